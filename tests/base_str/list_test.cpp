#include <gtest/gtest.h>

#include <vector>

#include "base/list.h"
#include "base/log.h"
#include "base/mem.h"
#include "tests/support/live_memory.h"

namespace {

using brisktest::LiveTrackedBytes;

// Data pointers for list nodes, with the list built from them.
class ListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    baseline_ = LiveTrackedBytes();
    ASSERT_GE(baseline_, 0) << "memory report unreadable";
  }
  void TearDown() override {
    if (list_) {
      EXPECT_EQ(SYS_ListRemove(list_), 0);
    }
    EXPECT_EQ(LiveTrackedBytes(), baseline_) << "list nodes leaked";
  }

  // Appends items[i] for each i given, in order.
  void Build(std::initializer_list<int> which) {
    for (int i : which) {
      list_ = SYS_ListAddLast(list_, &items_[i]);
      ASSERT_NE(list_, nullptr);
    }
  }

  // Data pointers from head to tail, checking the back links on the way.
  std::vector<int *> Walk() const {
    std::vector<int *> seen;
    SYS_List_p prev = nullptr;
    for (SYS_List_p n = list_; n; n = n->next) {
      EXPECT_EQ(n->prev, prev);
      seen.push_back(static_cast<int *>(n->data));
      prev = n;
    }
    return seen;
  }

  std::vector<int *> Items(std::initializer_list<int> which) {
    std::vector<int *> out;
    for (int i : which) out.push_back(&items_[i]);
    return out;
  }

  int items_[5] = {0, 1, 2, 3, 4};
  SYS_List_p list_ = nullptr;
  long baseline_ = 0;
};

TEST_F(ListTest, AddFirstAndAddLastKeepOrderAndLinks) {
  list_ = SYS_ListAddLast(list_, &items_[1]);
  EXPECT_EQ(errGetLastError(), 0);
  list_ = SYS_ListAddFirst(list_, &items_[0]);
  EXPECT_EQ(errGetLastError(), 0);
  list_ = SYS_ListAddLast(list_, &items_[2]);
  EXPECT_EQ(Walk(), Items({0, 1, 2}));
  EXPECT_EQ(SYS_MemSize(list_), static_cast<int>(sizeof(SYS_List_t)));
}

TEST_F(ListTest, AddToEmptyListMakesOneNode) {
  list_ = SYS_ListAddFirst(nullptr, &items_[3]);
  ASSERT_NE(list_, nullptr);
  EXPECT_EQ(list_->prev, nullptr);
  EXPECT_EQ(list_->next, nullptr);
  EXPECT_EQ(SYS_ListRemove(list_), 0);
  list_ = SYS_ListAddLast(nullptr, &items_[3]);
  EXPECT_EQ(Walk(), Items({3}));
}

TEST_F(ListTest, NullDataFailsAndLeavesListIntact) {
  Build({0, 1});
  EXPECT_EQ(SYS_ListAddFirst(list_, nullptr), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(SYS_ListAddLast(list_, nullptr), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(Walk(), Items({0, 1}));
}

TEST_F(ListTest, DelItemUnlinksFirstMatchFromAnyPosition) {
  struct Case {
    const char *what;
    std::initializer_list<int> before;
    int remove;
    std::initializer_list<int> after;
  };
  const Case cases[] = {
      {"head", {0, 1, 2}, 0, {1, 2}},
      {"middle", {0, 1, 2}, 1, {0, 2}},
      {"tail", {0, 1, 2}, 2, {0, 1}},
      {"only node", {3}, 3, {}},
      {"missing", {0, 1}, 4, {0, 1}},
      {"first of duplicates", {0, 1, 0}, 0, {1, 0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Build(c.before);
    SYS_List_p old_head = list_;
    list_ = SYS_ListDelItem(list_, &items_[c.remove]);
    EXPECT_EQ(errGetLastError(), 0);
    EXPECT_EQ(Walk(), Items(c.after));
    if (c.after.size() == c.before.size()) {
      EXPECT_EQ(list_, old_head);
    }
    if (list_) {
      EXPECT_EQ(SYS_ListRemove(list_), 0);
    }
    list_ = nullptr;
  }
}

TEST_F(ListTest, DelItemWithNullArguments) {
  EXPECT_EQ(SYS_ListDelItem(nullptr, &items_[0]), nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  // No node holds null data: the list comes back whole, so a caller storing
  // the result back keeps it.
  Build({0, 1});
  SYS_List_p head = list_;
  list_ = SYS_ListDelItem(list_, nullptr);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
  EXPECT_EQ(list_, head);
  EXPECT_EQ(Walk(), Items({0, 1}));
}

TEST_F(ListTest, RemoveReleasesNodesNotData) {
  Build({0, 1, 2, 3});
  EXPECT_EQ(SYS_ListRemove(list_), 0);
  EXPECT_EQ(errGetLastError(), 0);
  list_ = nullptr;
  EXPECT_EQ(items_[2], 2);
  EXPECT_EQ(SYS_ListRemove(nullptr), -1);
  EXPECT_EQ(errGetLastError(), SYS_ERR_ARG);
}

TEST_F(ListTest, SuccessfulCallClearsEarlierError) {
  errSetLastError(SYS_ERR_MAGIC);
  list_ = SYS_ListAddFirst(list_, &items_[0]);
  EXPECT_EQ(errGetLastError(), 0);
}

}  // namespace
