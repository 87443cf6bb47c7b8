// Reads that keep failing, whatever their error, mean the device has gone;
// a good read between failures starts the count again.
#include <gtest/gtest.h>

#include "link/failed_reads.h"

TEST(FailedReads, ThreeFailuresInARowMeanTheDeviceIsGone) {
    FailedReadCounter counter;
    EXPECT_FALSE(counter.readFailed());
    EXPECT_FALSE(counter.readFailed());
    EXPECT_TRUE(counter.readFailed());
}

TEST(FailedReads, AGoodReadStartsTheCountAgain) {
    FailedReadCounter counter;
    counter.readFailed();
    counter.readFailed();
    counter.readSucceeded();
    EXPECT_FALSE(counter.readFailed());
    EXPECT_FALSE(counter.readFailed());
    EXPECT_TRUE(counter.readFailed());
}

TEST(FailedReads, FailuresBrokenUpByGoodReadsNeverMeanGone) {
    FailedReadCounter counter;
    for (int i = 0; i < 100; ++i) {
        EXPECT_FALSE(counter.readFailed()) << "failure " << i;
        EXPECT_FALSE(counter.readFailed()) << "failure " << i;
        counter.readSucceeded();
    }
}

TEST(FailedReads, StaysGoneWhileReadsGoOnFailing) {
    FailedReadCounter counter;
    for (int i = 0; i < FAILED_READS_FOR_DEVICE_GONE - 1; ++i) counter.readFailed();
    for (int i = 0; i < 1000; ++i) EXPECT_TRUE(counter.readFailed()) << "failure " << i;
}

// A read that completes with no bytes is a failure as one with an error is;
// a part of a line neither ends a run nor counts in it.
TEST(FailedReads, EmptyReadsFailAndPartReadsLeaveTheRunAlone) {
    FailedReadCounter counter;
    EXPECT_FALSE(counter.readCompleted(0, 4));
    EXPECT_FALSE(counter.readFailed());
    EXPECT_FALSE(counter.readCompleted(2, 4));
    EXPECT_TRUE(counter.readCompleted(0, 4)) << "the third failure in a row";
    counter.readCompleted(4, 4);
    EXPECT_FALSE(counter.readCompleted(0, 4)) << "a whole read started the count again";
}
