#include "sending/HttpExchange.h"

#include "codecs/Charsets.h"
#include "codecs/TextRules.h"
#include "platform/EventWait.h"
#include "platform/Log.h"
#include "platform/LogBox.h"
#include "sending/SendContext.h"

RequestRing::RequestRing(int slotCount) {
  platform::prepareHttp();
  slots_.resize(static_cast<size_t>(std::max(slotCount, 1)));
  for (auto& s : slots_) s = std::make_shared<platform::HttpRequest>();
}

std::shared_ptr<platform::HttpRequest> RequestRing::slot(int index) {
  if (slots_.empty()) slots_.resize(1);
  auto& s = slots_[static_cast<size_t>(index) % slots_.size()];
  if (!s) s = std::make_shared<platform::HttpRequest>();
  return s;
}

void RequestRing::release() {
  // Dropping a request object leaves its transfer running unobserved.
  slots_.clear();
  slots_.resize(1);
}

bool showSentFor(const SendContext& w, qint32 countInRun, bool sendFormLoop) {
  const int option = w.view.index(Ctl::radio_send_info);
  return option == 2 || (option == 1 && countInRun == 1) ||
         (sendFormLoop && w.send_mode == SendMode::NormalRegistration);
}

bool awaitReplyFor(const SendContext& w, qint32 countInRun) {
  const int option = w.view.index(Ctl::radio_return_info);
  return option == 2 || (option == 1 && countInRun == 1) ||
         w.send_mode == SendMode::NormalRegistration;
}

bool awaitCompletion(SendContext& w, platform::HttpRequest& request, int timeoutS) {
  platform::EventWait wait;
  wait.wakeOn(&request, &platform::HttpRequest::completed);
  wait.wakeOn(&w, &RunFlag::runFlagChanged);
  // "More than the time-out": the deadline lies just past it.
  wait.run([&] { return request.readyState() == 4 || w.int_start() != 1; },
           static_cast<qint64>(std::max(timeoutS, 0)) * 1000 + 1);
  return request.readyState() == 4;
}

ReplyOutcome replyOutcome(const platform::HttpRequest& request, bool utf8Reply) {
  if (request.readyState() != 4) return {replytexts::kTimedOut, false};
  if (request.status() <= 0) return {replytexts::kFailed, false};
  const QByteArray body = request.responseBody();
  if (body.isEmpty()) return {replytexts::kEmpty, false};
  return {utf8Reply ? charsets::utf8Decode(body) : charsets::gb2312Decode(body), true};
}

void SendRequest(SendContext& w, const std::shared_ptr<platform::HttpRequest>& slotRef,
                 qint32 captionCount, bool showSent, bool awaitReply,
                 const std::function<void()>& onWire) {
  // Our own reference: the ring may be released while we wait.
  const std::shared_ptr<platform::HttpRequest> slot = slotRef;
  TaskView& view = w.view;
  const QString body = w.url_template_mode ? QString() : w.reg.Form;

  const bool async = view.index(Ctl::radio_post_type) == 1;
  const QString method =
      view.index(Ctl::radio_send_type) == 0 ? QStringLiteral("GET") : QStringLiteral("POST");
  slot->open(method, w.request_url, async);
  slot->setRequestHeader(QStringLiteral("CONTENT-TYPE"),
                         QStringLiteral("application/x-www-form-urlencoded"));
  slot->setRequestHeader(QStringLiteral("If-Modified-Since"), QStringLiteral("0"));
  slot->setCounted(true);
  slot->send(body.toUtf8());
  if (onWire) onWire();
  // The request is on the wire before the window shows it: a log box can
  // take longer to lay out than the request takes to reach the registrar.
  if (showSent)
    appendLog(view, Ctl::regsend,
              w.url_template_mode ? QStringLiteral("GET:") + w.request_url : body);
  view.setText(Ctl::reg_send, QStringLiteral("发送表单数量：") + QString::number(captionCount));

  // Synchronous sending goes on only once the reply is in or the run stopped,
  // whatever is shown, for as long as the client's own limits allow (the
  // request's lifetime); the task's time-out is the asynchronous wait's.
  const int timeoutS =
      async ? view.text(Ctl::time_out).toInt() : platform::kMaxRequestLifetimeMs / 1000 + 1;
  if (!async || awaitReply) awaitCompletion(w, *slot, timeoutS);
  if (!awaitReply) return;

  ReplyOutcome outcome = replyOutcome(*slot, w.utf8_reply != 0);
  if (slot->status() > 0)
    qCInfo(lcHttp) << "reply: HTTP" << slot->status() << slot->responseBody().size() << "bytes";
  else if (slot->readyState() == 4)
    qCInfo(lcHttp).noquote() << "no HTTP answer:" << slot->errorString();
  // A redirect to another server is not followed: the body would go there.
  if (!slot->refusedRedirect().isEmpty())
    outcome.text += textrules::kCrLf + QStringLiteral("（未跟随转向其他服务器的重定向：") +
                    QString::fromUtf8(slot->refusedRedirect()) + QStringLiteral("）");
  // The display limit applies to a reply, not to the three failure texts.
  appendLog(view, Ctl::regresult, outcome.text, outcome.isReply);
}
