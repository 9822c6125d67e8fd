#pragma once

// Marks a run as going for as long as it lives.
class RunningScope {
 public:
  explicit RunningScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~RunningScope() { flag_ = false; }
  RunningScope(const RunningScope&) = delete;
  RunningScope& operator=(const RunningScope&) = delete;

 private:
  bool& flag_;
};
