// The guarded list: exact results of every operation, the recursive lock,
// and its invariants under several threads.
#include "quex/guarded_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/sync.h"

namespace {

using namespace quex;

struct ListDeleter {
    void operator()(GuardedList* list) const { ListDestroy(list); }
};
using ListPtr = std::unique_ptr<GuardedList, ListDeleter>;

void* Item(uintptr_t value) { return reinterpret_cast<void*>(value); }

// Walks the nodes both ways and checks the links; returns the items head first.
std::vector<void*> CheckedItems(GuardedList* list) {
    std::vector<void*> forward;
    const GuardedListNode* previous = nullptr;
    for (const GuardedListNode* node = list->head; node != nullptr; node = node->next) {
        EXPECT_EQ(node->prev, previous);
        forward.push_back(node->item);
        previous = node;
    }
    EXPECT_EQ(list->tail, previous);
    size_t backward = 0;
    for (const GuardedListNode* node = list->tail; node != nullptr; node = node->prev) ++backward;
    EXPECT_EQ(backward, forward.size());
    EXPECT_EQ(static_cast<size_t>(list->count), forward.size());
    return forward;
}

int EqualsKey(const void* key, const void* item) { return key == item ? 0 : 1; }
int GreaterThanKey(const void* key, const void* item) {
    return reinterpret_cast<uintptr_t>(item) > reinterpret_cast<uintptr_t>(key) ? 0 : -1;
}

TEST(GuardedListTest, AddReturnsPositionsAndRefusesDuplicates) {
    ListPtr list(ListCreate());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(ListCount(list.get()), 0);
    EXPECT_EQ(ListAdd(list.get(), Item(10)), 0);
    EXPECT_EQ(ListAdd(list.get(), Item(20)), 1);
    EXPECT_EQ(ListAdd(list.get(), Item(30)), 2);
    EXPECT_EQ(ListAdd(list.get(), Item(20)), -1);
    EXPECT_EQ(ListCount(list.get()), 3);
    EXPECT_EQ(CheckedItems(list.get()), (std::vector<void*>{Item(10), Item(20), Item(30)}));
    // A null item is an item like any other.
    EXPECT_EQ(ListAdd(list.get(), nullptr), 3);
    EXPECT_EQ(ListAdd(list.get(), nullptr), -1);
    EXPECT_EQ(ListContains(list.get(), nullptr), 1);
}

TEST(GuardedListTest, RemoveRelinksAtEveryPosition) {
    ListPtr list(ListCreate());
    for (uintptr_t i = 1; i <= 5; ++i) ASSERT_EQ(ListAdd(list.get(), Item(i)), int32_t(i - 1));
    ListRemove(list.get(), Item(3));  // middle
    ListRemove(list.get(), Item(1));  // head
    ListRemove(list.get(), Item(5));  // tail
    ListRemove(list.get(), Item(9));  // absent: nothing happens
    EXPECT_EQ(CheckedItems(list.get()), (std::vector<void*>{Item(2), Item(4)}));
    EXPECT_EQ(ListContains(list.get(), Item(3)), 0);
    EXPECT_EQ(ListFind(list.get(), Item(3)), nullptr);
    ASSERT_NE(ListFind(list.get(), Item(4)), nullptr);
    EXPECT_EQ(ListFind(list.get(), Item(4))->item, Item(4));
    ListRemove(list.get(), Item(2));
    ListRemove(list.get(), Item(4));
    EXPECT_EQ(list->head, nullptr);
    EXPECT_EQ(list->tail, nullptr);
    EXPECT_EQ(ListCount(list.get()), 0);
    // Positions start again from 0 after the list emptied.
    EXPECT_EQ(ListAdd(list.get(), Item(4)), 0);
}

TEST(GuardedListTest, PopFrontGivesArrivalOrderThenNull) {
    ListPtr list(ListCreate());
    for (uintptr_t i = 1; i <= 3; ++i) ListAdd(list.get(), Item(i));
    EXPECT_EQ(ListPopFront(list.get()), Item(1));
    EXPECT_EQ(list->head->prev, nullptr);
    EXPECT_EQ(ListPopFront(list.get()), Item(2));
    EXPECT_EQ(ListPopFront(list.get()), Item(3));
    EXPECT_EQ(list->tail, nullptr);
    EXPECT_EQ(ListPopFront(list.get()), nullptr);
    EXPECT_EQ(ListCount(list.get()), 0);
}

TEST(GuardedListTest, GetAtBounds) {
    ListPtr list(ListCreate());
    EXPECT_EQ(ListGetAt(list.get(), 0), nullptr);
    for (uintptr_t i = 1; i <= 3; ++i) ListAdd(list.get(), Item(i * 100));
    EXPECT_EQ(ListGetAt(list.get(), 0), Item(100));
    EXPECT_EQ(ListGetAt(list.get(), 2), Item(300));
    EXPECT_EQ(ListGetAt(list.get(), 3), nullptr);
    EXPECT_EQ(ListGetAt(list.get(), -1), nullptr);
    EXPECT_EQ(ListGetAt(list.get(), INT32_MIN), nullptr);
    EXPECT_EQ(ListGetAt(nullptr, 0), nullptr);
}

TEST(GuardedListTest, FindIfReturnsFirstMatchWithKeyFirst) {
    ListPtr list(ListCreate());
    for (uintptr_t i : {5, 8, 12, 9}) ListAdd(list.get(), Item(i));
    EXPECT_EQ(ListFindIf(list.get(), GreaterThanKey, Item(7)), Item(8));
    EXPECT_EQ(ListFindIf(list.get(), GreaterThanKey, Item(8)), Item(12));
    EXPECT_EQ(ListFindIf(list.get(), GreaterThanKey, Item(12)), nullptr);
    EXPECT_EQ(ListFindIf(list.get(), EqualsKey, Item(9)), Item(9));
    EXPECT_EQ(ListFindIf(list.get(), nullptr, Item(9)), nullptr);
    EXPECT_EQ(ListFindIf(nullptr, EqualsKey, Item(9)), nullptr);
}

TEST(GuardedListTest, ClearDropsNodesNotItems) {
    ListPtr list(ListCreate());
    int a = 1, b = 2;
    ListAdd(list.get(), &a);
    ListAdd(list.get(), &b);
    ListClear(list.get());
    EXPECT_EQ(ListCount(list.get()), 0);
    EXPECT_EQ(list->head, nullptr);
    EXPECT_EQ(list->tail, nullptr);
    // The items are the caller's (stack objects here): still intact.
    EXPECT_EQ(a + b, 3);
    ListDestroy(nullptr);  // ignored
}

TEST(GuardedListTest, NullListResults) {
    EXPECT_EQ(ListCount(nullptr), -1);
    EXPECT_EQ(ListAdd(nullptr, Item(1)), -1);
    EXPECT_EQ(ListContains(nullptr, Item(1)), 0);
    EXPECT_EQ(ListFind(nullptr, Item(1)), nullptr);
    EXPECT_EQ(ListPopFront(nullptr), nullptr);
    ListRemove(nullptr, Item(1));
    ListClear(nullptr);
}

TEST(GuardedListTest, OwnerMayNestOperationsOthersWait) {
    ListPtr list(ListCreate());
    std::atomic<bool> added{false};
    std::thread other;
    {
        const std::lock_guard outer(ListMutex(list.get()));
        const std::lock_guard inner(ListMutex(list.get()));  // recursive for the owning thread
        EXPECT_EQ(ListAdd(list.get(), Item(1)), 0);
        other = std::thread([&] {
            ListAdd(list.get(), Item(2));
            added = true;
        });
        platform::SleepMs(50);
        EXPECT_FALSE(added.load()) << "another thread got past a held lock";
        EXPECT_EQ(ListCount(list.get()), 1);
    }
    other.join();
    EXPECT_TRUE(added.load());
    EXPECT_EQ(CheckedItems(list.get()), (std::vector<void*>{Item(1), Item(2)}));
}

// A list in static storage has no mutex until first use; threads racing on
// that first use must still share one mutex (ThreadSanitizer watches this).
TEST(GuardedListTest, StaticListMakesOneMutexUnderRace) {
    static GuardedList staticList{nullptr, nullptr, nullptr, 0};
    constexpr int kThreads = 8;
    constexpr uintptr_t kPerThread = 200;
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            ++ready;
            while (ready.load() < kThreads) std::this_thread::yield();
            for (uintptr_t i = 0; i < kPerThread; ++i)
                EXPECT_GE(ListAdd(&staticList, Item(1 + t * kPerThread + i)), 0);
        });
    for (auto& thread : threads) thread.join();
    ASSERT_NE(staticList.lock, nullptr);
    EXPECT_EQ(ListCount(&staticList), int32_t(kThreads * kPerThread));
    const auto items = CheckedItems(&staticList);
    EXPECT_EQ(std::set<void*>(items.begin(), items.end()).size(), size_t(kThreads * kPerThread));
    ListClear(&staticList);
}

// Producers add unique items, consumers pop and remove them, readers walk the
// list; at the end every item was taken exactly once or is still listed once.
TEST(GuardedListTest, ConcurrentUseLosesAndDoublesNothing) {
    ListPtr list(ListCreate());
    constexpr int kProducers = 4;
    constexpr uintptr_t kPerProducer = 2000;
    constexpr uintptr_t kTotal = kProducers * kPerProducer;
    std::atomic<int> producersDone{0};
    std::vector<std::vector<uintptr_t>> taken(3);
    std::vector<std::thread> threads;

    for (int p = 0; p < kProducers; ++p)
        threads.emplace_back([&, p] {
            for (uintptr_t i = 0; i < kPerProducer; ++i) {
                void* item = Item(1 + p * kPerProducer + i);
                if (i % 7 != 0) {
                    EXPECT_GE(ListAdd(list.get(), item), 0);
                    continue;
                }
                // Held across both calls, so nobody can take the item in between.
                const std::lock_guard guard(ListMutex(list.get()));
                const int32_t position = ListCount(list.get());
                EXPECT_EQ(ListAdd(list.get(), item), position);
                EXPECT_EQ(ListAdd(list.get(), item), -1);
            }
            ++producersDone;
        });
    // Two consumers pop from the front; one removes by value after a lookup.
    for (int c = 0; c < 2; ++c)
        threads.emplace_back([&, c] {
            for (;;) {
                void* item = ListPopFront(list.get());
                if (item != nullptr) {
                    taken[c].push_back(reinterpret_cast<uintptr_t>(item));
                    continue;
                }
                if (producersDone.load() == kProducers && ListCount(list.get()) == 0) return;
                std::this_thread::yield();
            }
        });
    threads.emplace_back([&] {
        for (int round = 0; round < 4000 && producersDone.load() < kProducers; ++round) {
            const std::lock_guard guard(ListMutex(list.get()));
            void* item = ListGetAt(list.get(), ListCount(list.get()) / 2);
            if (item != nullptr && ListContains(list.get(), item)) {
                ListRemove(list.get(), item);
                taken[2].push_back(reinterpret_cast<uintptr_t>(item));
            }
        }
    });
    threads.emplace_back([&] {  // a reader that only looks
        for (int round = 0; round < 2000; ++round) {
            const std::lock_guard guard(ListMutex(list.get()));
            CheckedItems(list.get());
            ListFindIf(list.get(), EqualsKey, Item(kTotal));
        }
    });
    for (auto& thread : threads) thread.join();

    std::multiset<uintptr_t> all;
    for (const auto& part : taken) all.insert(part.begin(), part.end());
    for (void* item : CheckedItems(list.get())) all.insert(reinterpret_cast<uintptr_t>(item));
    EXPECT_EQ(all.size(), kTotal);
    for (uintptr_t value = 1; value <= kTotal; ++value) ASSERT_EQ(all.count(value), 1u) << "item " << value;
    EXPECT_EQ(ListCount(list.get()), 0);
}

}  // namespace
