#pragma once
#include <QString>
#include <functional>
#include <memory>
#include <vector>
#include "sending/SendContext.h"

#include "platform/HttpClient.h"

// The request slots of one run. All slots are created when the ring is set
// up, so sending allocates no request object per request.
class RequestRing {
 public:
  explicit RequestRing(int slotCount);  // at least one slot
  RequestRing(const RequestRing&) = delete;
  RequestRing& operator=(const RequestRing&) = delete;

  int size() const { return static_cast<int>(slots_.size()); }
  // The request object of a slot (an empty slot gets a new one). The caller
  // keeps its copy for as long as it watches the request.
  std::shared_ptr<platform::HttpRequest> slot(int index);
  // End of a run: every slot is dropped without cancelling anything, so the
  // requests already sent complete unobserved; one empty slot is left.
  void release();

 private:
  std::vector<std::shared_ptr<platform::HttpRequest>> slots_;
};

// Reply texts of the exchange.
namespace replytexts {
inline const QString kTimedOut = QStringLiteral("连接超时！");
inline const QString kFailed = QStringLiteral("连接失败！");
inline const QString kEmpty = QStringLiteral("请求api失败或无数据返回。");
}  // namespace replytexts

// The display rules. countInRun includes the request being sent (the first
// request has 1). A send of normal registration always shows.
bool showSentFor(const SendContext& w, qint32 countInRun, bool sendFormLoop);
bool awaitReplyFor(const SendContext& w, qint32 countInRun);

// One exchange on the window's built request (w.request_url, w.reg.Form):
// sends it on slot with the two headers, shows it when showSent (right after
// it went out), sets the reg_send caption to captionCount, then, when awaitReply, waits for the
// reply within the time-out and appends the outcome to regresult.
// Synchronous mode (radio_post_type 0) waits for the reply even when nothing
// is shown; the window's events keep running during every wait.
// onWire runs the moment the request has been handed to its connection,
// before anything is shown.
void SendRequest(SendContext& w, const std::shared_ptr<platform::HttpRequest>& slot,
                 qint32 captionCount, bool showSent, bool awaitReply,
                 const std::function<void()>& onWire = {});

// Blocks in the event loop until the request completes, the run flag leaves
// 1, or more than timeoutS seconds have passed. True when it completed.
bool awaitCompletion(SendContext& w, platform::HttpRequest& request, int timeoutS);

// What regresult shows for a finished wait (steps of the classification);
// isReply is false for the three failure texts.
struct ReplyOutcome {
  QString text;
  bool isReply;
};
ReplyOutcome replyOutcome(const platform::HttpRequest& request, bool utf8Reply);
