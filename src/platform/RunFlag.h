#pragma once
#include <QObject>

// The run flag int_start (1 while a run is active, 0 asks it to end). Every
// write goes through setIntStart() so that waits blocked in the event loop
// wake at once on runFlagChanged.
class RunFlag : public QObject {
  Q_OBJECT
 public:
  qint16 int_start() const { return int_start_; }
  void setIntStart(qint16 value) {
    if (int_start_ == value) return;
    int_start_ = value;
    emit runFlagChanged();
  }

 signals:
  void runFlagChanged();

 private:
  qint16 int_start_ = 0;
};
