// Matrix-product benchmark with the bare loop overhead subtracted.
#include "runtime/cpu_benchmark.h"

#include "runtime/time.h"

namespace {

constexpr u32 kSize = 64;

struct Matrices {
  double a[kSize][kSize];
  double b[kSize][kSize];
  double c[kSize][kSize];
};

template <typename T>
void Step(volatile T& counter) {
  counter = counter + 1;
}

// Both timed loops keep their counters in volatile memory: every step of every counter is a real load and
// store, so the compiler can neither remove the empty loop nor fold it, and both loops pay the same overhead.
void Products(Matrices* m, u64 times) {
  for (volatile u64 n = 0; n < times; Step(n)) {
    for (volatile u32 i = 0; i < kSize; Step(i)) {
      for (volatile u32 j = 0; j < kSize; Step(j)) {
        long double sum = 0;
        for (volatile u32 k = 0; k < kSize; Step(k)) sum += static_cast<long double>(m->a[i][k]) * m->b[k][j];
        m->c[i][j] = static_cast<double>(sum);
      }
    }
  }
}

void EmptyLoops(u64 times) {
  for (volatile u64 n = 0; n < times; Step(n)) {
    for (volatile u32 i = 0; i < kSize; Step(i)) {
      for (volatile u32 j = 0; j < kSize; Step(j)) {
        for (volatile u32 k = 0; k < kSize; Step(k)) {
        }
      }
    }
  }
}

v3Time Elapsed(v3Time start) {
  v3Time end{};
  (void)v3ClockNow(&end);
  return v3TimeSubtract(end, start);
}

}  // namespace

// The result of the last products is kept here so that the products have an observable effect.
volatile double g_benchmarkSink;

u64 v3CpuBenchmark() {
  static Matrices m;  // 96 KiB: too large for a small thread stack
  for (u32 i = 0; i < kSize; ++i) {
    for (u32 j = 0; j < kSize; ++j) {
      m.a[i][j] = m.b[i][j] = static_cast<double>(kSize * i + j);
    }
  }
  const s128 oneSecond = static_cast<s128>(1) << 64;
  u64 n = 1;
  s128 difference = 0;
  for (;;) {
    v3Time start{};
    (void)v3ClockNow(&start);
    Products(&m, n);
    const s128 productTime = v3TimeToFixed(Elapsed(start));
    (void)v3ClockNow(&start);
    EmptyLoops(n);
    const s128 loopTime = v3TimeToFixed(Elapsed(start));
    difference = productTime - loopTime;
    if (difference > oneSecond) break;
    n *= 2;
  }
  g_benchmarkSink = m.c[kSize - 1][kSize - 1];
  const s128 perProduct = difference / static_cast<s128>(n);
  if (perProduct <= 0) return 0;
  return static_cast<u64>(static_cast<u128>(oneSecond / perProduct));
}
