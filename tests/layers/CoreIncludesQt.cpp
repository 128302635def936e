// Compiled as a core source by the layer tests: the core has no Qt to include.
#include <QObject>
