#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <vector>

#include "packetmode/PacketListModel.h"

namespace qhs {
namespace {

// A model over a list of plain UDP-sized datagrams, under Qt's model tester, and a record of
// whether the list guard was free each time the model told its views of a change.
class PacketListModelTest : public ::testing::Test {
  protected:
    PacketListModelTest() {
        QObject::connect(&model, &QAbstractItemModel::rowsInserted,
                         [this] { guardFreeWhenTold.push_back(guardIsFree()); });
        QObject::connect(&model, &QAbstractItemModel::modelReset,
                         [this] { guardFreeWhenTold.push_back(guardIsFree()); });
    }

    bool guardIsFree() { return table.tryLock().held(); }

    void capture(int count, std::string_view contains = "") {
        PacketTable::Access held = table.lock();
        PacketStore& store = held.store();
        PacketList& list = held.list();
        for (int i = 0; i < count; ++i) {
            std::vector<std::uint8_t> bytes(28, 0);
            bytes[0] = 0x45;
            bytes[9] = 17;
            CapturedPacket packet = CapturedPacket::copyOf(bytes.data(), 28);
            const std::int32_t slot = store.storedCount();
            ASSERT_TRUE(store.append(packet, "t"));
            list.insertRow(list.rowCount(), slot, contains, "");
        }
    }

    PacketTable table;
    PacketListModel model{table};
    // Checks every change the model announces against what it then reports; a breach is a
    // Qt warning, which fails the test.
    QAbstractItemModelTester tester{&model,
                                    QAbstractItemModelTester::FailureReportingMode::Warning};
    std::vector<bool> guardFreeWhenTold;
};

TEST_F(PacketListModelTest, ViewsHearOfNewRowsOnlyAfterTheListGuardIsLetGo) {
    capture(3);
    const PacketListModel::SyncResult first = model.synchronize();
    EXPECT_EQ(first.appendedRows, 3);
    capture(2, "abc");
    EXPECT_EQ(model.synchronize().appendedRows, 2);
    EXPECT_EQ(model.rowCount(), 5);
    EXPECT_EQ(model.cellText(4, 7), "abc") << "the new row's filter text came with it";
    EXPECT_EQ(model.cellText(0, 0), "UDP");

    { table.lock().list().removeRow(1); }
    const PacketListModel::SyncResult reset = model.synchronize();
    EXPECT_TRUE(reset.reset);
    EXPECT_EQ(model.rowCount(), 4);
    EXPECT_EQ(model.slotOfRow(1), 2);

    ASSERT_EQ(guardFreeWhenTold.size(), 3u);
    for (const bool free : guardFreeWhenTold) {
        EXPECT_TRUE(free) << "a view was told while the capture thread could not store";
    }
}

TEST_F(PacketListModelTest, ABusyGuardSkipsTheCycleAndNothingIsLost) {
    capture(4);
    {
        const PacketTable::Access held = table.lock();
        EXPECT_FALSE(model.synchronize().synchronized);
    }
    EXPECT_EQ(model.rowCount(), 0);
    capture(1);
    EXPECT_EQ(model.synchronize().appendedRows, 5);
    EXPECT_EQ(model.slotOfRow(4), 4);
}

}  // namespace
}  // namespace qhs
