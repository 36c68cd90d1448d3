#pragma once
#include "sending/SendContext.h"

// The blocking sender (every send mode) and the one-request tick sender.
void SendFormLoop(SendContext& w);
void SendFormOnTick(SendContext& w);
void Timer5_Timer(SendContext& w);

// Slots of a request ring for a pacing interval (ms, negative = unlimited).
int requestRingSize(float interval_ms, SendMode send_mode);
// The tick sender's ring in w.request_pool: set up with fresh slots, or
// released (requests already sent finish unobserved) down to one empty slot.
void setUpRequestPool(SendContext& w, int slots);
void releaseRequestPool(SendContext& w);

// A run starts: its counts begin at zero.
void beginRun(SendContext& w);
// A run has ended (stop, duration, no domain left): warming stops, requests
// not yet on the wire are given up, and RunEvents::runEnded follows once the
// requests still out have finished (at most the reply time-out later).
void announceRunEnd(SendContext& w);
// The counts of the run so far.
RunSummary runSummary(const SendContext& w);

// Lets requests already on the wire finish (at most timeoutMs), so the last
// request of a headless run is never cut off by the process ending.
void waitForRequestsInFlight(int timeoutMs);
