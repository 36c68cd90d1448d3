#include "codecs/StopWatch.h"

namespace {
// The range a millisecond timer device reports on the desktop platforms this
// program came from; the monotonic clock here resolves far finer than 1 ms.
constexpr qint32 kMinPeriodMs = 1;
constexpr qint32 kMaxPeriodMs = 1000000;
}  // namespace

CStopWatch::CStopWatch() { timer_.start(); }

qint32 CStopWatch::Elapsed() const {
  // Taken modulo 2^32 like a wrapping 32-bit tick counter.
  return static_cast<qint32>(static_cast<quint32>(static_cast<quint64>(timer_.elapsed())));
}

qint32 CStopWatch::MinimumResolution() const { return kMinPeriodMs; }
qint32 CStopWatch::MaximumResolution() const { return kMaxPeriodMs; }

void CStopWatch::Reset() { timer_.restart(); }
