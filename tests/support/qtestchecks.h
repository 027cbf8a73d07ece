#pragma once

#include <QTest>
#include <gtest/gtest.h>

// QTest's checks (QVERIFY, QCOMPARE and the QTRY_ forms) work inside a GoogleTest case only half: a failing one
// returns from the case and marks Qt's own state, but GoogleTest never hears of it and reports the case as
// passed. This listener turns that mark into a failure of the case. Qt keeps the mark once set, so in one
// process every later case fails too; ctest runs each case in a process of its own.
class QTestChecks : public ::testing::EmptyTestEventListener
{
public:
    // GoogleTest calls the listeners of a case's end in the reverse order of their adding: added after the
    // result printer, this one runs before it, and the printed result includes its failure.
    static void install() { ::testing::UnitTest::GetInstance()->listeners().Append(new QTestChecks); }

    void OnTestEnd(const ::testing::TestInfo &) override
    {
        if (QTest::currentTestFailed())
            ADD_FAILURE() << "a QVERIFY, QCOMPARE or QTRY_ check failed in this case (Qt tells no more outside its "
                             "own test runner)";
    }
};
