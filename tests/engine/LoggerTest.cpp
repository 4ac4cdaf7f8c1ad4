#include "Logger.h"

#include <cstring>
#include <gtest/gtest.h>

TEST(Logger, FreshLinePrintsFourZeros) {
    Logger log;
    char buf[200];
    log.logLine(buf);
    EXPECT_STREQ(buf, "0/0/0/0");
}

TEST(Logger, LinePrintsJumpCountersInOrder) {
    Logger log;
    log.reached10000 = 1;
    log.reached20000 = 22;
    log.reached10000Large = 333;
    log.reached20000Large = -4;
    char buf[200];
    log.logLine(buf);
    EXPECT_STREQ(buf, "1/22/333/-4");
}

TEST(Logger, MessageReplacesCountersAndLatestWins) {
    Logger log;
    log.reached10000 = 7;
    log.ageCollisions = 5;
    log.setMessage("age collision");
    log.setMessage("builder fallback");
    char buf[200];
    log.logLine(buf);
    EXPECT_STREQ(buf, "builder fallback");
}

TEST(Logger, LineNeverWritesPastTheBuffer) {
    Logger log;
    log.reached10000 = -2147483647 - 1;
    log.reached20000 = -2147483647 - 1;
    log.reached10000Large = -2147483647 - 1;
    log.reached20000Large = -2147483647 - 1;
    char buf[16];
    std::memset(buf, 'z', sizeof buf);
    log.logLine(buf, 10);
    EXPECT_EQ(std::strlen(buf), 9u);
    EXPECT_EQ(buf[10], 'z');
}

TEST(Logger, LookupCountersAreSeparate) {
    Logger log;
    log.countHit();
    log.countHit();
    log.countAgeCollision();
    log.countChainMiss();
    log.countChainMiss();
    log.countChainMiss();
    log.countBucketMiss();
    EXPECT_EQ(log.hits, 2);
    EXPECT_EQ(log.ageCollisions, 1);
    EXPECT_EQ(log.chainMisses, 3);
    EXPECT_EQ(log.bucketMisses, 1);
}

TEST(Logger, LookupCountersGoPastTwoToTheThirtyFirst) {
    // Minutes of thinking make billions of lookups: each counter must count on past 2^31.
    struct Counter {
        int64_t Logger::*field;
        void (Logger::*count)();
    };
    const Counter counters[] = {{&Logger::hits, &Logger::countHit},
                                {&Logger::ageCollisions, &Logger::countAgeCollision},
                                {&Logger::chainMisses, &Logger::countChainMiss},
                                {&Logger::bucketMisses, &Logger::countBucketMiss}};
    for (const Counter& c : counters) {
        Logger log;
        log.*c.field = 2147483646;
        for (int i = 0; i < 3; ++i) {
            (log.*c.count)();
        }
        EXPECT_EQ(log.*c.field, int64_t{2147483649});
    }
}
