// The one lock of the in-memory queue. Every change of a slot and every save holds it, so a save never
// writes a half-changed slot; it is never held across a core run or a network exchange. Recursive, so an
// operation that holds it may call another that takes it.
#pragma once

void QueueLock();
void QueueUnlock();

class QueueGuard {
 public:
  QueueGuard() { QueueLock(); }
  ~QueueGuard() { QueueUnlock(); }
  QueueGuard(const QueueGuard&) = delete;
  QueueGuard& operator=(const QueueGuard&) = delete;
};
