// A style plugin that leaves a mark when Qt loads it, so a test can tell whether the program
// took a plugin from a folder the user named in the environment.
#include <QStyleFactory>
#include <QStylePlugin>
#include <cstdlib>
#include <fstream>

class MarkerStylePlugin : public QStylePlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QStyleFactoryInterface_iid FILE "MarkerStylePlugin.json")

  public:
    QStyle* create(const QString&) override {
        if (const char* marker = std::getenv("JOURNEY_PLUGIN_MARKER")) {
            std::ofstream(marker) << "loaded\n";
        }
        return QStyleFactory::create("Fusion");
    }
};

#include "MarkerStylePlugin.moc"
