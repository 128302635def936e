#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <functional>
#include <future>

#include "analysis/PacketFilter.h"
#include "app/IpAddressEdit.h"
#include "app/Product.h"
#include "filemode/FileSegmentFilter.h"
#include "packetmode/FilterSetupDialog.h"
#include "support/QueuedCaptureSource.h"
#include "support/ScriptedDialogService.h"
#include "support/TestDatagram.h"

namespace qhs {
namespace {

bool waitUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 5000) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(2);
    }
    return true;
}

std::vector<std::string> rows(FilterSetupDialog& dialog, int listId) {
    std::vector<std::string> texts;
    auto* list = controlById<QListWidget>(dialog, listId);
    for (int row = 0; row < list->count(); ++row) {
        texts.push_back(list->item(row)->text().toStdString());
    }
    return texts;
}

// Control ids of the "Source IP must be:" input box, its Add IP button and its list.
constexpr int SourceEntry = 1074, SourceAdd = 1095, SourceRows = 1094;

class FilterSetup : public testing::Test {
  protected:
    std::unique_ptr<FilterSetupDialog> open(HostLookups lookups = {}) {
        auto dialog = std::make_unique<FilterSetupDialog>(published, nullptr, std::move(lookups));
        dialog->show();
        return dialog;
    }
    static void addAddress(FilterSetupDialog& dialog, const QString& address) {
        controlById<IpAddressEdit>(dialog, SourceEntry)->setText(address);
        controlById<QPushButton>(dialog, SourceAdd)->click();
    }
    template <typename Widget = QLineEdit>
    static Widget* control(FilterSetupDialog& dialog, int id) {
        return controlById<Widget>(dialog, id);
    }

    ScriptedDialogService user;
    PublishedSettings published;
};

TEST_F(FilterSetup, FreshRecordOpensWithNoFilterInForce) {
    auto dialog = open();
    for (int id : {1074, 1075, 1076, 1077}) {
        EXPECT_EQ(control<IpAddressEdit>(*dialog, id)->text(), "0.0.0.0") << id;
    }
    EXPECT_TRUE(control<IpAddressEdit>(*dialog, 1106)->isBlank());
    for (int id : {1094, 1097, 1100, 1103, 1109}) {
        EXPECT_EQ(control<QListWidget>(*dialog, id)->count(), 0) << id;
    }
    for (int id : {1078, 1079, 1080, 1081, 1110}) {
        EXPECT_EQ(control(*dialog, id)->text(), "") << id;
    }
    EXPECT_EQ(control(*dialog, 1082)->text(), "0");
    EXPECT_EQ(control(*dialog, 1083)->text(), "0");
    for (int id : {1090, 1091, 1092, 1093}) {
        EXPECT_TRUE(control<QCheckBox>(*dialog, id)->isChecked()) << id;
    }
}

TEST_F(FilterSetup, AddIpPutsNewAddressesOnTopAndApplyStoresThemInThatOrder) {
    auto dialog = open();
    addAddress(*dialog, "10.0.0.1");
    addAddress(*dialog, "10.0.0.2");
    addAddress(*dialog, "10.0.0.1");  // already listed
    addAddress(*dialog, "0.0.0.0");
    control<IpAddressEdit>(*dialog, SourceEntry)->clear();
    control<QPushButton>(*dialog, SourceAdd)->click();  // blank
    EXPECT_EQ(rows(*dialog, SourceRows), (std::vector<std::string>{"10.0.0.2", "10.0.0.1"}));

    dialog->apply();
    EXPECT_EQ(published.current().filterSourceIps[0], filterAddress("10.0.0.2"));
    EXPECT_EQ(published.current().filterSourceIps[1], filterAddress("10.0.0.1"));
    EXPECT_EQ(published.current().filterSourceIps[2], 0u);
    EXPECT_STREQ(published.current().filterSourceIpEntry, "0.0.0.0");
    EXPECT_EQ(rows(*open(), SourceRows), rows(*dialog, SourceRows));
}

TEST_F(FilterSetup, ListHoldsAtMostTheHundredAddressesThatCanBeStored) {
    auto dialog = open();
    for (int i = 1; i <= 100; ++i) {
        addAddress(*dialog, QStringLiteral("10.0.0.%1").arg(i));
    }
    addAddress(*dialog, "10.0.1.1");
    EXPECT_EQ(rows(*dialog, SourceRows).size(), FilterListLength);
    EXPECT_EQ(rows(*dialog, SourceRows).front(), "10.0.0.100");
}

TEST_F(FilterSetup, ApplyWritesAllEntriesSoRemovedRowsLeaveNothingBehind) {
    published.change([](SettingsRecord& settings) {
        for (std::uint32_t& address : settings.filterDestIps) {
            address = filterAddress("192.168.0.1");
        }
        settings.filterDestIps[3] = 0;  // the list is three addresses long
    });
    auto dialog = open();
    auto* list = control<QListWidget>(*dialog, 1100);
    ASSERT_EQ(list->count(), 3);
    control<QPushButton>(*dialog, 1102)->click();  // nothing selected: nothing removed
    EXPECT_EQ(list->count(), 3);
    while (list->count() > 0) {
        list->setCurrentRow(0);
        control<QPushButton>(*dialog, 1102)->click();
    }
    dialog->apply();
    for (const std::uint32_t address : published.current().filterDestIps) {
        ASSERT_EQ(address, 0u);
    }
}

TEST_F(FilterSetup, PortFieldsReopenInTheirStoredForm) {
    auto dialog = open();
    control(*dialog, 1079)->setText("80, ,443;8080");
    control(*dialog, 1110)->setText("no digits here");
    dialog->apply();
    EXPECT_EQ(published.current().filterSourcePortsNot[0], 80);
    EXPECT_EQ(published.current().filterSourcePortsNot[1], 443);
    EXPECT_EQ(published.current().filterSourcePortsNot[2], 8080);
    EXPECT_EQ(published.current().filterSourcePortsNot[3], 0);
    EXPECT_EQ(published.current().filterEitherPorts[0], 0);
    EXPECT_EQ(control(*open(), 1079)->text(), "80,443,8080");
}

TEST_F(FilterSetup, CancelAfterApplyKeepsWhatApplyStored) {
    auto dialog = open();
    control<QCheckBox>(*dialog, 1091)->setChecked(false);
    control(*dialog, 1084)->setText("GET");
    dialog->apply();
    control(*dialog, 1084)->setText("POST");
    control<QPushButton>(*dialog, 1088)->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(published.current().filterAllowUdp, 0);
    EXPECT_STREQ(published.current().filterContains1, "GET");
}

TEST_F(FilterSetup, AnyTextInAnyFieldIsStoredWithinItsField) {
    auto dialog = open();
    const QString huge(2000, QLatin1Char('x'));
    for (int id : {1084, 1111, 1112, 1086, 1113, 1114, 1085, 1078, 1080, 1081}) {
        control(*dialog, id)->setText(huge);
    }
    control(*dialog, 1082)->setText("99999999999");
    control(*dialog, 1083)->setText("abc");
    control<QPushButton>(*dialog, 1)->click();  // OK: Apply, then close
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(textField(published.current().filterContains1), std::string(1023, 'x'));
    EXPECT_EQ(textField(published.current().filterLacks3), std::string(1023, 'x'));
    EXPECT_EQ(textField(published.current().filterResolverHost), std::string(1023, 'x'));
    EXPECT_EQ(published.current().filterSourcePorts[0], 0);
    EXPECT_EQ(published.current().filterMinSize, 2147483647u);
    EXPECT_EQ(published.current().filterMaxSize, 0u);
    EXPECT_EQ(published.current().filterAllowTcp,
              1);  // the neighbours of the cut fields are intact
}

TEST_F(FilterSetup, ApplyPutsTheNewFiltersInForceAtOnce) {
    PacketFilter filter;
    filter.refresh(true, published.current());
    const std::vector<std::uint8_t> fromFirstHost = makeDatagram(17, 40, 5000, 53);
    EXPECT_TRUE(filter.accept(fromFirstHost.data(), 40).accepted);

    FilterSetupDialog dialog(published, &filter);
    addAddress(dialog, "10.0.0.9");
    dialog.apply();
    EXPECT_FALSE(filter.accept(fromFirstHost.data(), 40).accepted);
}

TEST_F(FilterSetup, SizeBoundsBeyondTheSignedRangeStayAsTheyWereUnlessEdited) {
    // From a settings file written elsewhere: a minimum of -1 (no bound) and a negative maximum.
    published.change([](SettingsRecord& settings) {
        settings.filterMinSize = 0xFFFFFFFFu;
        settings.filterMaxSize = 4000000000u;
    });
    PacketFilter filter;
    filter.refresh(true, published.current());
    const std::vector<std::uint8_t> datagram = makeDatagram(17, 40, 5000, 53);
    {
        FilterSetupDialog dialog(published, &filter);
        EXPECT_EQ(control(dialog, 1082)->text(), "4294967295");
        EXPECT_EQ(control(dialog, 1083)->text(), "4000000000");
        control<QPushButton>(dialog, 1)->click();  // OK without an edit
    }
    EXPECT_EQ(published.current().filterMinSize, 0xFFFFFFFFu);
    EXPECT_EQ(published.current().filterMaxSize, 4000000000u);
    EXPECT_FALSE(filter.accept(datagram.data(), 40).accepted);

    FilterSetupDialog dialog(published, &filter);
    control(dialog, 1083)->setText("1500");
    dialog.apply();
    EXPECT_EQ(published.current().filterMinSize, 0xFFFFFFFFu);
    EXPECT_EQ(published.current().filterMaxSize, 1500u);
    EXPECT_TRUE(filter.accept(datagram.data(), 40).accepted);
}

TEST_F(FilterSetup, ResolverButtonsReportFailuresAndFillTheBoxes) {
    HostLookups lookups;
    lookups.hostAddress = [](const std::string& host) -> std::optional<std::string> {
        if (host == "known" || host == "nameless") {
            return host == "known" ? "10.1.2.3" : "10.9.9.9";
        }
        return std::nullopt;
    };
    lookups.addressName = [](std::uint32_t address) -> std::optional<std::string> {
        if (address == filterAddress("10.1.2.3")) {
            return "known.example";
        }
        return std::nullopt;
    };
    auto dialog = open(lookups);
    auto* host = control(*dialog, 1085);
    const auto press = [&](int id, const char* text) {
        host->setText(text);
        control<QPushButton>(*dialog, id)->click();
        EXPECT_TRUE(waitUntil([&] { return !dialog->resolving(); }));
    };

    press(1123, "unknown");  // Copy to filters
    ASSERT_EQ(user.shownTexts(), std::vector<std::string>{"Unable to resolve host name"});
    EXPECT_EQ(user.shown[0].message.caption, ApplicationName);
    EXPECT_EQ(host->text(), "unknown");
    EXPECT_EQ(control<IpAddressEdit>(*dialog, 1074)->text(), "0.0.0.0");
    EXPECT_FALSE(dialog->lastResolveSucceeded());

    press(1124, "unknown");  // Reverse resolve: only the first failure is told
    EXPECT_EQ(user.shown.size(), 2u);
    EXPECT_EQ(user.shown[1].message.text, "Unable to resolve host name");

    press(1124, "nameless");
    ASSERT_EQ(user.shown.size(), 3u);
    EXPECT_EQ(user.shown[2].message,
              (UserMessage{"Unable to reverse resolve address.", "Error", MessageIcon::Stop}));

    press(1124, "known");
    EXPECT_EQ(host->text(), "known.example");
    press(1089, "known");
    EXPECT_EQ(host->text(), "10.1.2.3");
    press(1123, "known");
    for (int id : {1074, 1075, 1076, 1077, 1106}) {
        EXPECT_EQ(control<IpAddressEdit>(*dialog, id)->text(), "10.1.2.3") << id;
    }
    EXPECT_TRUE(dialog->lastResolveSucceeded());
    EXPECT_EQ(user.shown.size(), 3u);
}

TEST_F(FilterSetup, ModelessInstancesCloseOnTheirOwnAndWithTheirWindow) {
    auto window = std::make_unique<QObject>();
    QPointer<FilterSetupDialog> first =
        FilterSetupDialog::openModeless(published, nullptr, window.get());
    QPointer<FilterSetupDialog> second =
        FilterSetupDialog::openModeless(published, nullptr, window.get());
    EXPECT_TRUE(first->isVisible() && second->isVisible());
    EXPECT_EQ(first->parent(), nullptr);
    EXPECT_FALSE(first->isModal());

    control<QPushButton>(*first, 1088)->click();
    EXPECT_TRUE(waitUntil([&] { return first.isNull(); }));
    EXPECT_FALSE(second.isNull());
    window.reset();
    EXPECT_TRUE(second.isNull());
}

TEST_F(FilterSetup, InstanceClosedDuringALookUpGoesWhenTheLookUpEnds) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    HostLookups slow;
    slow.hostAddress = [released](const std::string&) -> std::optional<std::string> {
        released.wait();
        return std::nullopt;
    };
    QPointer<FilterSetupDialog> dialog =
        FilterSetupDialog::openModeless(published, nullptr, nullptr, slow);
    dialog->resolve();
    dialog->close();  // returns without waiting for the look-up
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(dialog.isNull());
    release.set_value();
    EXPECT_TRUE(waitUntil([&] { return dialog.isNull(); }));
    EXPECT_TRUE(user.shown.empty());  // nobody waits for the answer of a closed dialog
}

}  // namespace
}  // namespace qhs
