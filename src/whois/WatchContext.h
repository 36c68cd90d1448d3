#pragma once
#include <QTimer>
#include <memory>

#include "sending/SendContext.h"

class WhoisMonitor;  // whois/Monitor.h

// What the WHOIS monitor sees of the task window.
class WatchContext : public SendContext {
 public:
  using SendContext::SendContext;
  std::shared_ptr<WhoisMonitor> whois;  // created at the first WHOIS catch
  // The count-down of the pause between WHOIS cycles.
  QTimer Timer6;
};
