#pragma once
// A front end served inside the test process: the report endpoint and the progress endpoint are
// the far ends of two socket pairs, answered by a background thread from a small script. Code under
// test gets a RichEditChannel, a ReportWriter and a ProgressWindow wired to them, exactly as the
// job wires its own, and the test reads back every frame in the order it was sent.
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "report/progress_window.h"
#include "report/report_writer.h"
#include "report/rich_edit_channel.h"
#include "support/test_front_end.h"

namespace torvek::testing {

class InProcessFrontEnd {
  public:
    /// Polls whose stage code is in `abortAtStages` are answered "abort"; message boxes are
    /// answered with `messageBoxButton` (link::kButtonOk or link::kButtonCancel). The class query
    /// gets the report class name and every report piece is delivered.
    explicit InProcessFrontEnd(std::set<int> abortAtStages = {},
                               int messageBoxButton = link::kButtonOk);
    ~InProcessFrontEnd();
    InProcessFrontEnd(const InProcessFrontEnd&) = delete;
    InProcessFrontEnd& operator=(const InProcessFrontEnd&) = delete;

    RichEditChannel& channel() { return *channel_; }
    ReportWriter& report() { return *report_; }
    ProgressWindow& progress() { return *progress_; }

    /// Changes the answers from the next frame on.
    void setAbortStages(std::set<int> stages);
    void setMessageBoxButton(int button);

    /// Every frame received so far over both endpoints, in the order sent (the class query of the
    /// channel's construction included).
    std::vector<Frame> frames() const;
    /// Forgets the frames received so far, e.g. those of a test's own setup.
    void clearFrames();

    /// The frames so far as a finished run would give them (styledReport, reportText, stages...).
    RunResult result() const;
    /// The report with each style fragment rendered "<size,colour,attr,tabs>".
    std::string styledReport() const { return result().styledReport(); }
    /// The plain pieces of the report, concatenated.
    std::string reportText() const { return result().reportText(); }
    /// Stage codes of the abort polls, in order.
    std::vector<int> stages() const { return result().stages(); }
    /// The message-box frames, in order (boxText, boxCaption and wParam = style).
    std::vector<Frame> messageBoxes() const;

  private:
    void serve();
    bool serveOne(int fd, Endpoint endpoint);

    int progressPair_[2] = {-1, -1};  // [0] the program's end, [1] the front end's
    int reportPair_[2] = {-1, -1};
    mutable std::mutex mutex_;
    std::set<int> abortAtStages_;
    int messageBoxButton_;
    std::vector<Frame> frames_;
    std::thread thread_;
    std::unique_ptr<RichEditChannel> channel_;
    std::unique_ptr<ReportWriter> report_;
    std::unique_ptr<ProgressWindow> progress_;
};

}  // namespace torvek::testing
