#include "plugins/debug_plugin.h"

#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>

#include "graph/barrier.h"
#include "graph/graph_lock.h"
#include "plugins/debug_config.h"
#include "plugins/exception.h"
#include "support/log_capture.h"
#include "support/sandbox.h"

namespace bootcrank {
namespace {

using Names = std::vector<std::string>;

std::vector<DebugEntry> Read(const std::string& text) {
  std::istringstream in(text);
  return ReadDebugEntries(in);
}

// The one entry that `line` gives.
DebugEntry Only(const std::string& line) {
  std::vector<DebugEntry> entries = Read(line + "\n");
  EXPECT_EQ(entries.size(), 1u) << line;
  return entries.empty() ? DebugEntry{} : entries[0];
}

TEST(DebugConfigTest, FieldsOfAnEntry) {
  DebugEntry e = Only("inject1:storage-ready:net-ready:echo hi");
  EXPECT_EQ(e.name, "inject1");
  EXPECT_EQ(e.requiredBarriers, Names{"storage-ready"});
  EXPECT_EQ(e.providedBarriers, Names{"net-ready"});
  EXPECT_EQ(e.command, "echo hi");

  // Empty fields are dropped, so these still have four fields.
  for (const char* line : {"n:r::p:c", ":n:r:p:c:", "::n::r::p::c::"}) {
    DebugEntry d = Only(line);
    EXPECT_EQ(d.name, "n") << line;
    EXPECT_EQ(d.command, "c") << line;
  }

  // The line is trimmed; blanks around colons belong to the fields.
  DebugEntry spaced = Only(" \t n : r : p : sleep 0 \t");
  EXPECT_EQ(spaced.name, "n ");
  EXPECT_EQ(spaced.requiredBarriers, Names{" r "});
  EXPECT_EQ(spaced.providedBarriers, Names{" p "});
  EXPECT_EQ(spaced.command, " sleep 0");
}

TEST(DebugConfigTest, BarrierListsSplitWithQuotesAndEscapes) {
  const struct {
    const char* field;
    Names items;
  } cases[] = {
      {"a,b", {"a", "b"}},
      {"a,,b", {"a", "", "b"}},
      {",", {"", ""}},
      {"\"x,y\"", {"x,y"}},
      {"'x,y'", {"x,y"}},
      {"'x,y\",z", {"x,y", "z"}},  // opened with one quote, closed with the other
      {"a\"b\"c", {"abc"}},
      {"a\\,b", {"a,b"}},
      {"a\\nb", {"a\nb"}},
      {"a\\\\b", {"a\\b"}},
      {"\\\"q\\'", {"\"q'"}},
  };
  for (const auto& c : cases) {
    DebugEntry e = Only(std::string("n:") + c.field + ":" + c.field + ":c");
    EXPECT_EQ(e.requiredBarriers, c.items) << c.field;
    EXPECT_EQ(e.providedBarriers, c.items) << c.field;
  }
}

TEST(DebugConfigTest, BadEscapesEndReadingWithAnException) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"ok:a:b:true\nbad:a\\qb:c:true\n", "unknown escape sequence"},
      {"ok:a:b:true\nbad:a:b\\:true\n", "cannot end with escape"},
  };
  for (const auto& c : cases) {
    try {
      Read(c.text);
      FAIL() << "no exception for " << c.text;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), c.error);
    }
  }
}

TEST(DebugConfigTest, MalformedLinesAreLoggedWithTheirNumbers) {
  testing::LogCapture capture;
  std::vector<DebugEntry> entries = Read(
      "   \n"
      "\n"
      "a:b:c:d:e\n"
      "first:r:p:true\n"
      "web:r:p:curl http://host/x\n"
      "short:r:p\n"
      "\t\n"
      "second:r:p:false");  // no final newline
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "first");
  EXPECT_EQ(entries[1].name, "second");
  EXPECT_EQ(capture.Messages("info"),
            (Names{"ignoring malformed debug entry at line 3: a:b:c:d:e",
                   "ignoring malformed debug entry at line 5: web:r:p:curl http://host/x",
                   "ignoring malformed debug entry at line 6: short:r:p"}));
}

// Points BOOTCRANK_ROOT at a fresh directory while it lives.
class TempRoot {
 public:
  TempRoot() {
    char name[] = "/tmp/bootcrank-debug-XXXXXX";
    root_ = mkdtemp(name);
    const char* saved = getenv("BOOTCRANK_ROOT");
    if (saved) saved_ = saved;
    hadSaved_ = saved != nullptr;
    setenv("BOOTCRANK_ROOT", root_.c_str(), 1);
  }
  ~TempRoot() {
    if (hadSaved_) {
      setenv("BOOTCRANK_ROOT", saved_.c_str(), 1);
    } else {
      unsetenv("BOOTCRANK_ROOT");
    }
    testing::Shell("rm -rf '" + root_ + "'");
  }
  const std::string& Path() const { return root_; }

 private:
  std::string root_;
  std::string saved_;
  bool hadSaved_ = false;
};

TEST(DebugConfigTest, ReadsTheHostFile) {
  TempRoot root;
  {
    testing::LogCapture capture;
    EXPECT_TRUE(ReadDebugEntries().empty());  // missing file: silently none
    EXPECT_EQ(capture.Text(), "");
  }
  ASSERT_EQ(testing::Shell("mkdir -p '" + root.Path() + "/etc/quarro/bootcrank' && "
                           "printf 'one:a:b:true\\ntwo:c:d:false\\n' > '" +
                           root.Path() + "/etc/quarro/bootcrank/debug.conf'"),
            0);
  std::vector<DebugEntry> entries = ReadDebugEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "one");
  EXPECT_EQ(entries[1].requiredBarriers, Names{"c"});
}

TEST(DebugPluginTest, LinksItsBarriers) {
  DebugPlugin* p = new DebugPlugin("dbglink", {"dbglink-r1", "dbglink-r2"},
                                   {"dbglink-p"}, "true");
  EXPECT_EQ(p->ApiVersion(), 1);
  EXPECT_EQ(p->ExecutionClass(), 1u);
  EXPECT_FALSE(p->RunOnce());
  EXPECT_EQ(p->PluginVersion(), "");
  EXPECT_FALSE(p->UsesHostProfile());
  Node* r1 = GetBarrier("dbglink-r1", false);
  Node* r2 = GetBarrier("dbglink-r2", false);
  Node* provided = GetBarrier("dbglink-p", false);
  GraphLockHolder lock;
  EXPECT_EQ(p->Dependencies(), (std::vector<Node*>{r1, r2}));
  EXPECT_EQ(p->Dependents(), std::vector<Node*>{provided});
}

TEST(DebugPluginTest, ApplyHostProfileIsNotImplemented) {
  DebugPlugin* p = new DebugPlugin("dbghp", {}, {}, "true");
  try {
    p->ApplyHostProfile();
    FAIL() << "no exception";
  } catch (const NotImplementedException& e) {
    EXPECT_STREQ(e.what(), "method `DebugPlugin::ApplyHostProfile' is not implemented");
  }
}

TEST(DebugPluginTest, StartRunsTheCommandAndLogsFailures) {
  TempRoot dir;  // only used as a scratch directory here
  std::string marker = dir.Path() + "/ran";
  const struct {
    std::string command;
    std::vector<std::string> messages;
  } cases[] = {
      {"touch '" + marker + "'", {}},
      {"exit 1", {"debug injection 'dbg' returned 0x000100"}},
      {"exit 3", {"debug injection 'dbg' returned 0x000300"}},
      {"kill -9 $$", {"debug injection 'dbg' returned 0x000009"}},
      {"/nonexistent/program", {"debug injection 'dbg' returned 0x007f00"}},
  };
  for (const auto& c : cases) {
    DebugPlugin* p = new DebugPlugin("dbg", {}, {}, c.command);
    testing::LogCapture capture;
    p->Start();  // never throws
    EXPECT_EQ(capture.Messages("info"), c.messages) << c.command;
  }
  EXPECT_EQ(access(marker.c_str(), F_OK), 0);
}

}  // namespace
}  // namespace bootcrank
