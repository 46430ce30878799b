// Background work: jobs run in order, wait() returns only once the job running has finished,
// a job's exception comes back from wait(), and the destructor lets no job outlive it.
#include "host/utils/kaBackgroundWork.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

using Lode::Utils::kaBackgroundWork;

TEST(BackgroundWork, JobsRunInOrderAndAreDoneWhenWaitReturns)
{
    std::string done;
    {
        kaBackgroundWork work;
        for (char name : std::string("abc"))
            work.add([&done, name] {
                // Slow enough that a wait which looked only at the queue would return early.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                done += name;
            });
        work.wait();
        EXPECT_EQ(done, "abc");

        work.add([] { throw std::runtime_error("out of room"); });
        work.add([&done] { done += 'd'; });
        EXPECT_THROW(work.wait(), std::runtime_error);
        EXPECT_EQ(done, "abcd") << "the jobs after a throwing one still run";
        EXPECT_NO_THROW(work.wait()) << "an exception comes back once";

        work.add([&done] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            done += 'e';
        });
    }
    EXPECT_EQ(done, "abcde") << "the destructor waits for the last job";
}
