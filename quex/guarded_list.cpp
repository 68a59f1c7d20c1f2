// The guarded list: every operation runs under the list's recursive lock,
// so operations may call each other while a caller holds the lock.
#include "quex/guarded_list.h"

#include <mutex>
#include <new>

#include "platform/sync.h"

namespace quex {
namespace {

// A list without a mutex (the static handle registry) gets one on first use.
// Two threads may get here at once: the first one to publish its mutex wins.
platform::RecursiveMutex* MutexOf(GuardedList* list) {
    platform::RecursiveMutex* lock = list->lock.load(std::memory_order_acquire);
    while (lock == nullptr) {
        auto* made = new (std::nothrow) platform::RecursiveMutex;
        if (made != nullptr && made->Valid()) {
            platform::RecursiveMutex* expected = nullptr;
            if (list->lock.compare_exchange_strong(expected, made, std::memory_order_acq_rel,
                                                   std::memory_order_acquire))
                return made;
            delete made;
            return expected;
        }
        delete made;
        // Without memory for a mutex nothing else would work either; wait for some.
        platform::SleepMs(1);
        lock = list->lock.load(std::memory_order_acquire);
    }
    return lock;
}

GuardedListNode* FindLocked(GuardedList* list, const void* item) {
    for (GuardedListNode* node = list->head; node != nullptr; node = node->next)
        if (node->item == item) return node;
    return nullptr;
}

void UnlinkLocked(GuardedList* list, GuardedListNode* node) {
    if (node->prev != nullptr)
        node->prev->next = node->next;
    else
        list->head = node->next;
    if (node->next != nullptr)
        node->next->prev = node->prev;
    else
        list->tail = node->prev;
    --list->count;
    delete node;
}

}  // namespace

GuardedList* ListCreate() {
    auto* list = new (std::nothrow) GuardedList{};
    if (list == nullptr) return nullptr;
    auto* lock = new (std::nothrow) platform::RecursiveMutex;
    if (lock == nullptr || !lock->Valid()) {
        delete lock;
        delete list;
        return nullptr;
    }
    list->lock.store(lock, std::memory_order_release);
    return list;
}

void ListDestroy(GuardedList* list) {
    if (list == nullptr) return;
    ListClear(list);
    delete list->lock.load(std::memory_order_acquire);
    delete list;
}

platform::RecursiveMutex& ListMutex(GuardedList* list) { return *MutexOf(list); }

int32_t ListAdd(GuardedList* list, void* item) {
    if (list == nullptr) return -1;
    const std::lock_guard guard(ListMutex(list));
    if (ListContains(list, item)) return -1;
    return ListAppend(list, item);
}

int32_t ListAppend(GuardedList* list, void* item) {
    if (list == nullptr) return -1;
    const std::lock_guard guard(ListMutex(list));
    auto* node = new (std::nothrow) GuardedListNode{list->tail, nullptr, item};
    if (node == nullptr) return -1;
    if (list->tail != nullptr)
        list->tail->next = node;
    else
        list->head = node;
    list->tail = node;
    return list->count++;
}

void ListRemove(GuardedList* list, void* item) {
    if (list == nullptr) return;
    const std::lock_guard guard(ListMutex(list));
    if (GuardedListNode* node = FindLocked(list, item)) UnlinkLocked(list, node);
}

int32_t ListContains(GuardedList* list, const void* item) { return ListFind(list, item) != nullptr ? 1 : 0; }

GuardedListNode* ListFind(GuardedList* list, const void* item) {
    if (list == nullptr) return nullptr;
    const std::lock_guard guard(ListMutex(list));
    return FindLocked(list, item);
}

void* ListPopFront(GuardedList* list) {
    if (list == nullptr) return nullptr;
    const std::lock_guard guard(ListMutex(list));
    GuardedListNode* node = list->head;
    if (node == nullptr) return nullptr;
    void* item = node->item;
    UnlinkLocked(list, node);
    return item;
}

void ListClear(GuardedList* list) {
    if (list == nullptr) return;
    const std::lock_guard guard(ListMutex(list));
    while (list->count > 0) ListPopFront(list);
}

int32_t ListCount(GuardedList* list) {
    if (list == nullptr) return -1;
    const std::lock_guard guard(ListMutex(list));
    return list->count;
}

void* ListGetAt(GuardedList* list, int32_t index) {
    if (list == nullptr || index < 0) return nullptr;
    const std::lock_guard guard(ListMutex(list));
    if (index >= list->count) return nullptr;
    GuardedListNode* node = list->head;
    for (int32_t step = 0; step < index; ++step) node = node->next;
    return node->item;
}

void* ListFindIf(GuardedList* list, ListPredicate predicate, const void* key) {
    if (list == nullptr || predicate == nullptr) return nullptr;
    const std::lock_guard guard(ListMutex(list));
    for (GuardedListNode* node = list->head; node != nullptr; node = node->next)
        if (predicate(key, node->item) == 0) return node->item;
    return nullptr;
}

}  // namespace quex
