/* brisk!quantoven base library: the doubly linked list every registry uses.
 * A list is the pointer to its head node (null when empty); the list owns its
 * nodes, never the data. Calls that change a list return the new head. */
#ifndef BRISK_BASE_LIST_H
#define BRISK_BASE_LIST_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SYS_List_s {
  void *data;
  struct SYS_List_s *prev;
  struct SYS_List_s *next;
} SYS_List_t, *SYS_List_p;

/* Null data: error 10, null; out of memory: error 5, null (the old list stays intact). */
SYS_List_p SYS_ListAddFirst(SYS_List_p head, void *data);
SYS_List_p SYS_ListAddLast(SYS_List_p head, void *data);
/* Unlinks the first node holding data; head unchanged when none does. Null arguments: error 10, null. */
SYS_List_p SYS_ListDelItem(SYS_List_p head, const void *data);
/* Releases every node (not the data). 0, or -1 with error 10 for null. */
int SYS_ListRemove(SYS_List_p head);

#ifdef __cplusplus
}
#endif

#endif
