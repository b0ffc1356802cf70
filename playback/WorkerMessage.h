// What the worker task tells the main window (WorkerMessage) and what the main window asks
// of the worker (TaskRequest), with the listener through which the messages are delivered.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "capture/CsvReport.h"

namespace fennik {

class CAvEventListener;
class CAvStream;
class CRTP_Parser;

enum WorkerMessageId : uint32_t {
  kMsgLoadStart = 1029,        // the load begins (the window shows its progress dialog)
  kMsgLoadEnd = 1030,          // result: 1 loaded, 0 failed or cancelled
  kMsgShowFrame = 1032,        // video play: the frame timer's tick; the window shows the next picture
  kMsgPageCreated = 1034,      // stream and its index; no stream: the capture's own page
  kMsgExtractStart = 1035,
  kMsgExtractEnd = 1036,       // result
  kMsgCsvStart = 1037,
  kMsgCsvEnd = 1038,           // result
  kMsgPlayStart = 1039,        // stream
  kMsgPlayFrame = 1040,        // stream, frame index
  kMsgPlayEnd = 1041,          // stream
  kMsgSdpMissing = 1042,       // container
};

struct WorkerMessage {
  uint32_t id = 0;
  uint64_t value = 0;            // result (1030, 1036, 1038), stream index (1034), frame index (1040)
  CAvStream* stream = nullptr;   // 1034, 1039, 1040, 1041
  CRTP_Parser* container = nullptr;  // 1042
};

// The main window's side of the worker. Both calls come from the worker thread; a window
// forwards them to its own thread (the GUI with queued calls, the CLI with a queue).
class CTaskListener {
 public:
  virtual ~CTaskListener() = default;
  virtual void OnWorkerMessage(const WorkerMessage& message) = 0;
  // Load, extraction and CSV progress: percent 0..100 and the progress dialog's text line.
  virtual void OnTaskProgress(int percent, const std::string& text) { (void)percent, (void)text; }
};

// An extraction job handed to the worker with request 1135. The worker calls Run on its
// thread with the open capture and itself as the progress listener; Run returns 1 on
// success, 0 on failure. The owner of the job must not change it while the worker runs it.
class CExtractionRequest {
 public:
  virtual ~CExtractionRequest() = default;
  virtual int Run(CRTP_Parser& capture, CAvEventListener* progress) = 0;
};

enum TaskRequestId : uint32_t {
  kRequestPlay = 1129,
  kRequestExtract = 1135,
  kRequestCsv = 1136,
  kRequestQuit = 0x12,  // ends the worker's message loop
};

struct TaskRequest {
  uint32_t id = 0;
  CsvRequest csv;                                   // 1136
  std::shared_ptr<CExtractionRequest> extraction;   // 1135
};

}  // namespace fennik
