#include "catalog/rowfeeder.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <atomic>
#include <gtest/gtest.h>
#include <latch>
#include <memory>

using namespace catalog;

namespace {

QCoreApplication &application()
{
    static int argc = 1;
    static char name[] = "catalog_tests";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

std::vector<CatalogModel::Row> rows(std::size_t count, const std::string &text)
{
    return std::vector<CatalogModel::Row>(count, CatalogModel::Row{{text, "", "", " a", ""}, 0});
}

} // namespace

// A feeder with its model, and a latch that work can wait on until the test lets it go on.
class RowFeederTest : public ::testing::Test
{
protected:
    RowFeederTest() { application(); }
    ~RowFeederTest() override
    {
        if (!release->try_wait())
            release->count_down(); // no work is left waiting
    }

    CatalogModel model{CatalogModel::Layout::Category};
    RowFeeder feeder{&model};
    QSignalSpy finished{&feeder, &RowFeeder::finished};
    std::shared_ptr<std::latch> release = std::make_shared<std::latch>(1);
};

TEST_F(RowFeederTest, LargeLoadArrivesInBatchesAndEmptiesTheViewFirst)
{
    model.appendRows(rows(3, "old"));
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    feeder.start([](const RowFeeder::RowSink &hand) { hand(rows(5 * RowFeeder::BatchRows + 1, "new")); });
    EXPECT_EQ(model.rowCount(), 0);
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(model.rowCount(), static_cast<int>(5 * RowFeeder::BatchRows + 1));
    EXPECT_EQ(inserted.count(), 6);
    EXPECT_EQ(model.text(0, 0), "new");
}

TEST_F(RowFeederTest, BatchesGrowWithTheRowsAlreadyShown)
{
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    feeder.start([](const RowFeeder::RowSink &hand) { hand(rows(100 * RowFeeder::BatchRows, "many")); });
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_EQ(model.rowCount(), static_cast<int>(100 * RowFeeder::BatchRows));
    // Each batch is at most a quarter of the rows before it, once that is more than BatchRows.
    EXPECT_GT(inserted.count(), 15);
    EXPECT_LT(inserted.count(), 25);
}

TEST_F(RowFeederTest, NewerLoadSupersedesAnOlderOneWhichIsToldToStop)
{
    const auto olderGoesOn = std::make_shared<std::atomic<bool>>(true);
    const auto handed = std::make_shared<std::latch>(1);
    feeder.start([release = release, handed, olderGoesOn](const RowFeeder::RowSink &hand) {
        hand(rows(10, "older")); // its delivery is posted, and still waits in the event queue
        handed->count_down();
        release->wait();
        olderGoesOn->store(hand(rows(10, "older")));
    });
    handed->wait();
    feeder.start([](const RowFeeder::RowSink &hand) { hand(rows(2, "newer")); });
    ASSERT_TRUE(finished.wait(10000));
    release->count_down();
    // Every work has returned, and whatever it posted has been delivered.
    ASSERT_TRUE(QThreadPool::globalInstance()->waitForDone(10000));
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(olderGoesOn->load());
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.text(1, 0), "newer");
    EXPECT_EQ(finished.count(), 1);
}

TEST_F(RowFeederTest, WorkIsToldToStopWhenItsFeederIsGone)
{
    const auto goesOn = std::make_shared<std::atomic<bool>>(true);
    auto gone = std::make_unique<RowFeeder>(&model);
    gone->start([release = release, goesOn](const RowFeeder::RowSink &hand) {
        release->wait();
        goesOn->store(hand(rows(1, "late")));
    });
    gone.reset();
    release->count_down();
    ASSERT_TRUE(QThreadPool::globalInstance()->waitForDone(10000));
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(goesOn->load());
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(RowFeederTest, RowsAppearWhileTheWorkGoesOn)
{
    feeder.start([release = release](const RowFeeder::RowSink &hand) {
        hand(rows(3, "first"));
        release->wait();
        hand(rows(2, "second"));
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.rowCount() == 3; }));
    EXPECT_EQ(finished.count(), 0);
    release->count_down();
    ASSERT_TRUE(finished.wait(10000));
    ASSERT_EQ(model.rowCount(), 5);
    EXPECT_EQ(model.text(2, 0), "first");
    EXPECT_EQ(model.text(3, 0), "second");
}

TEST(CatalogModel, HeadersCarryCaptionsAndWidths)
{
    CatalogModel search(CatalogModel::Layout::Search);
    ASSERT_EQ(search.columnCount(), 2);
    EXPECT_EQ(search.headerData(1, Qt::Horizontal).toString(), QStringLiteral(" 下载地址"));
    EXPECT_EQ(search.headerData(1, Qt::Horizontal, CatalogModel::ColumnWidthRole).toInt(), 165);
    CatalogModel category(CatalogModel::Layout::Category);
    EXPECT_EQ(category.headerData(4, Qt::Horizontal).toString(), QStringLiteral(" 是否安全"));
    EXPECT_EQ(category.headerData(2, Qt::Horizontal, CatalogModel::ColumnWidthRole).toInt(), 92);
    EXPECT_FALSE(category.headerData(5, Qt::Horizontal).isValid());
}
