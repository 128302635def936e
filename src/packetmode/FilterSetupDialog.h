#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/PublishedSettings.h"
#include "app/WorkerThread.h"
#include "capture/SystemServices.h"
#include "packetmode/FilterSetupValues.h"

namespace Ui {
class FilterSetupDialog;
}

class QLineEdit;
class QListWidget;

namespace qhs {

class IpAddressEdit;
class PacketFilter;

// Edits the packet filters of Packet Sniffer Mode: five address lists, five port lists,
// the size bounds, the search strings and the protocol switches, with a host name resolver
// to find addresses for the lists. Apply and OK write the record in memory only.
//
// It works while capture goes on and beside other instances of itself: it is opened
// without an owner and without a modal loop (openModeless), Apply writes the filter fields
// under the filter's record guard, and the resolver looks names up on a thread of its own
// so the windows stay usable meanwhile.
class FilterSetupDialog : public QDialog {
    Q_OBJECT

  public:
    // `filter` (may be null) takes the new settings after every Apply.
    FilterSetupDialog(PublishedSettings& settings, PacketFilter* filter, HostLookups lookups = {},
                      QWidget* parent = nullptr);
    ~FilterSetupDialog() override;

    // Shows a new instance without an owner and returns at once; the instance deletes itself
    // when it closes. Each call opens one more. When `closesWith` is destroyed (the window
    // that owns the settings and the filter), the instance is deleted with it, unapplied.
    static FilterSetupDialog* openModeless(PublishedSettings& settings, PacketFilter* filter,
                                           QObject* closesWith = nullptr, HostLookups lookups = {});

    // The buttons, callable by tests as a click would.
    void apply();
    void addAddress(FilterListIndex list);
    void removeAddress(FilterListIndex list);
    void resolve();
    void reverseResolve();
    void copyToFilters();

    // Whether a look-up started by one of the resolver buttons is still running.
    bool resolving() const { return resolving_; }
    bool lastResolveSucceeded() const { return lastResolveSucceeded_; }

  protected:
    void done(int result) override;
    void showEvent(QShowEvent* event) override;

  private:
    enum class AfterResolve { Nothing, ReverseResolve, CopyToFilters };
    struct LookupResult {
        std::optional<std::string> address;
        std::optional<std::string> name;
    };

    void fillControls();
    FilterSetupValues currentValues() const;
    std::vector<std::string> rowsOf(FilterListIndex list) const;
    void startLookup(AfterResolve after);
    void finishLookup(AfterResolve after, const LookupResult& result);
    void setResolving(bool resolving);

    std::unique_ptr<Ui::FilterSetupDialog> ui_;
    PublishedSettings& settings_;
    PacketFilter* filter_;
    HostLookups lookups_;
    std::array<IpAddressEdit*, FilterListCount> entries_{};
    std::array<QListWidget*, FilterListCount> lists_{};
    std::array<QLineEdit*, FilterListCount> ports_{};
    WorkerThread lookupThread_;
    // The size bounds the record held when the dialog opened.
    std::uint32_t minimumSizeAsRead_ = 0;
    std::uint32_t maximumSizeAsRead_ = 0;
    bool resolving_ = false;
    bool lastResolveSucceeded_ = false;
    bool closed_ = false;
    bool deleteWhenClosed_ = false;
};

}  // namespace qhs
