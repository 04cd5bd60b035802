// A host's session walked point by point with a device fault in force,
// natively and through the real DLL alike: each step under a watchdog, what
// each point showed and called, the matrix's cells checked, and the session
// after the fault, which must stream and record as if there had been none.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/counting_host.h"
#include "tests/support/fault_matrix.h"
#include "tests/support/journal.h"
#include "tests/support/plugin_under_test.h"
#include "tests/support/watchdog.h"

namespace halvorn::testing {

// What one point of a walk did.
struct PointResult {
  std::vector<std::string> shown;
  bool usual_result = true;
  std::vector<JournalLine> calls;
};

class FaultWalk {
 public:
  using PointHook = std::function<void(Point)>;
  using PointCheck = std::function<void(Point, const PointResult&)>;

  FaultWalk(PluginUnderTest& plugin, std::string label, std::chrono::seconds step_bound);

  PluginUnderTest& plugin() { return plugin_; }
  EntryPoints& host_calls() { return plugin_.entry_points(); }
  CountingHost& host() { return host_; }
  const std::string& label() const { return label_; }

  // Runs one step under the watchdog; the messages it showed.
  std::vector<std::string> Step(const std::string& description, const std::function<void()>& step);
  // The journal lines written since the last call.
  std::vector<JournalLine> NewCalls() { return journal_.NewLines(); }
  // The device entries that fail from now on ("" none).
  void Fail(const std::string& entries) { plugin_.SetSimulator("HALVORNSIM_FAIL", entries); }
  bool Init();
  // A click that reaches the control's handler, whatever its state.
  void Click(int id) { plugin_.panel().Click(id); }
  bool WaitForBlocks(std::uint64_t blocks);

  // The session's points in order, up to `last`: `before` and `after` run
  // around each point, fault-free set-up between them.
  void Walk(const PointHook& before, const PointHook& after, const PointCheck& check,
            Point last = static_cast<Point>(kPointCount - 1));
  // One cell of the matrix: the messages, the entry point's result, and the
  // journal showing the entry reached (failing) or never reached (missing)
  // exactly where the matrix says the plug-in calls it.
  void CheckCell(const std::string& entry, Mode mode, Point point, Seen expected, const PointResult& result,
                 std::vector<Cell>& cells);
  // Every point of a walk without the device library.
  void CheckWithoutLibrary(Point point, const PointResult& result);
  // The same plug-in once `clear_faults` has taken every fault away (after
  // StopHW and CloseHW): opened, streaming at 2 MS/s and recording, without
  // a message, a fault injected or a block the stream did not drop.
  void ExpectNormalSession(const std::function<void()>& clear_faults);

 private:
  // A click a user could make: on an enabled control.
  void ClickAsUser(int id);

  PluginUnderTest& plugin_;
  const std::string label_;
  CountingHost& host_ = CountingHost::Instance();
  JournalFollower journal_;
  Watchdog watchdog_;
  int steps_ = 0;
};

// Every entry of the matrix missing, or failing at each point that calls it
// (throughout a walk when none does), one walk on a freshly loaded plug-in
// each; `fresh(label, missing_entry)` gives it. Prints the matrix as found.
void RunDeviceFaultMatrix(
    Mode mode, const std::function<FaultWalk&(const std::string& label, const std::string& missing_entry)>& fresh,
    const std::function<void()>& clear_faults);

}  // namespace halvorn::testing
