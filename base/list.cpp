// The doubly linked list behind every registry of the framework. Nodes are
// tracked allocations owned by the list; the data they point at is not.
#include "base/list.h"

#include "base/log.h"
#include "base/mem.h"

namespace {

// A zeroed node holding data, or null with error 5.
SYS_List_p NewNode(void *data, const char *tag) {
  auto *node = static_cast<SYS_List_p>(SYS_MemGet(sizeof(SYS_List_t), tag));
  if (!node) {
    errSetLastError(SYS_ERR_NOMEM);
    return nullptr;
  }
  node->data = data;
  return node;
}

}  // namespace

extern "C" SYS_List_p SYS_ListAddFirst(SYS_List_p head, void *data) {
  errClear();
  if (!data) {
    errSetLastError(SYS_ERR_ARG);
    return nullptr;
  }
  SYS_List_p node = NewNode(data, "SYS_ListAddFirst");
  if (!node) return nullptr;
  node->next = head;
  if (head) head->prev = node;
  return node;
}

extern "C" SYS_List_p SYS_ListAddLast(SYS_List_p head, void *data) {
  errClear();
  if (!data) {
    errSetLastError(SYS_ERR_ARG);
    return nullptr;
  }
  SYS_List_p node = NewNode(data, "SYS_ListAddLast");
  if (!node) return nullptr;
  if (!head) return node;
  SYS_List_p last = head;
  while (last->next) last = last->next;
  last->next = node;
  node->prev = last;
  return head;
}

extern "C" SYS_List_p SYS_ListDelItem(SYS_List_p head, const void *data) {
  errClear();
  if (!head || !data) {
    errSetLastError(SYS_ERR_ARG);
    // No node ever holds null data, so a non-empty list stays as it is
    // rather than being dropped by a caller that stores the result back.
    return head;
  }
  SYS_List_p node = head;
  while (node && node->data != data) node = node->next;
  if (!node) return head;
  if (node->prev) node->prev->next = node->next;
  if (node->next) node->next->prev = node->prev;
  if (node == head) head = node->next;
  SYS_MemFree(node);
  return head;
}

extern "C" int SYS_ListRemove(SYS_List_p head) {
  errClear();
  if (!head) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  while (head) {
    SYS_List_p next = head->next;
    SYS_MemFree(head);
    head = next;
  }
  return 0;
}
