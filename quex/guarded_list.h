// A doubly linked list of untyped items with its own recursive lock. The
// list never owns its items: clearing or destroying it frees nodes only.
// Every operation takes the lock itself; a caller that needs several
// operations as one holds it for a scope:
//     const std::lock_guard guard(ListMutex(list));
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/sync.h"

namespace quex {

struct GuardedListNode {
    GuardedListNode* prev;
    GuardedListNode* next;
    void* item;
};

struct GuardedList {
    std::atomic<platform::RecursiveMutex*> lock;  // made on first use for a static list
    GuardedListNode* head;
    GuardedListNode* tail;
    int32_t count;
};

// Returns 0 when the item matches the key.
using ListPredicate = int (*)(const void* key, const void* item);

GuardedList* ListCreate();            // nullptr without memory
void ListDestroy(GuardedList* list);  // null ignored
// The list's lock (made on first use for a static list); list is not null.
platform::RecursiveMutex& ListMutex(GuardedList* list);
int32_t ListAdd(GuardedList* list, void* item);  // position, or -1 (present / no memory)
// ListAdd without the presence check, for an item the caller knows is not
// listed (a fresh allocation): constant time. Position, or -1 (no memory).
int32_t ListAppend(GuardedList* list, void* item);
void ListRemove(GuardedList* list, void* item);
int32_t ListContains(GuardedList* list, const void* item);  // 1 or 0
GuardedListNode* ListFind(GuardedList* list, const void* item);
void* ListPopFront(GuardedList* list);  // nullptr when empty
void ListClear(GuardedList* list);
int32_t ListCount(GuardedList* list);  // -1 for null
void* ListGetAt(GuardedList* list, int32_t index);
void* ListFindIf(GuardedList* list, ListPredicate predicate, const void* key);

}  // namespace quex
