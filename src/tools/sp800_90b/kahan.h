// src/tools/sp800_90b/kahan.h: compensated summation in double, the order
// of operations the reference tool's last digits depend on.
#pragma once

namespace talvora::tools::sp800_90b {

class KahanSum {
  public:
    void add(double x) {
        const double y = x - compensation_;
        const double t = sum_ + y;
        compensation_ = (t - sum_) - y;
        sum_ = t;
    }
    double sum() const { return sum_; }

  private:
    double sum_ = 0.0;
    double compensation_ = 0.0;
};

} // namespace talvora::tools::sp800_90b
