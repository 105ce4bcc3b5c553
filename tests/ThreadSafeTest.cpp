#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <type_traits>
#include <vector>

#include "ZQThreadSafe.h"

namespace velmor {
namespace {

static_assert(!std::is_copy_constructible_v<TZQThreadSafeIntegerSequence>);
static_assert(!std::is_copy_assignable_v<TZQThreadSafeIntegerSequence>);

TEST(ThreadSafeSequenceTest, NewSequenceCountsFromZero) {
  TZQThreadSafeIntegerSequence sequence;
  EXPECT_EQ(sequence.Next(), 0);
  EXPECT_EQ(sequence.Next(), 1);
  EXPECT_EQ(sequence.Next(), 2);
}

TEST(ThreadSafeSequenceTest, SequencesCountIndependently) {
  TZQThreadSafeIntegerSequence first;
  TZQThreadSafeIntegerSequence second;
  EXPECT_EQ(first.Next(), 0);
  EXPECT_EQ(first.Next(), 1);
  EXPECT_EQ(second.Next(), 0);
  EXPECT_EQ(first.Next(), 2);
}

TEST(ThreadSafeSequenceTest, EightThreadsObtainEveryNumberExactlyOnce) {
  constexpr int threadCount = 8;
  constexpr int callsPerThread = 10000;
  TZQThreadSafeIntegerSequence sequence;
  std::vector<std::vector<int64_t>> obtained(threadCount);
  std::vector<std::thread> threads;
  for (int t = 0; t < threadCount; ++t) {
    threads.emplace_back([&sequence, &values = obtained[t]] {
      values.reserve(callsPerThread);
      for (int i = 0; i < callsPerThread; ++i) {
        values.push_back(sequence.Next());
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }

  std::vector<int64_t> all;
  for (const auto& values : obtained) {
    // Each thread sees its own numbers rising.
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    all.insert(all.end(), values.begin(), values.end());
  }
  std::sort(all.begin(), all.end());
  ASSERT_EQ(all.size(), static_cast<size_t>(threadCount * callsPerThread));
  for (size_t i = 0; i < all.size(); ++i) {
    ASSERT_EQ(all[i], static_cast<int64_t>(i));
  }
  EXPECT_EQ(sequence.Next(), threadCount * callsPerThread);
}

TEST(ThreadSafeTest, LockGivesOneThreadAtATime) {
  TZQThreadSafe guard;
  int64_t counter = 0;  // guarded by guard's lock only
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&guard, &counter] {
      for (int i = 0; i < 10000; ++i) {
        guard.Lock();
        ++counter;
        guard.Unlock();
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(counter, 80000);
}

}  // namespace
}  // namespace velmor
