#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

#include "winds/wind_feed.h"

namespace zarv::station {
class OperatorLog;
}  // namespace zarv::station

namespace zarv::products {

// zarv_<wigos_id>_<yyyymmddHHMM>.bufr, by the time the period ends.
QString BufrFileName(const QString& wigos_id, const QDateTime& end_utc);

// Writes the message into dir (made as needed) under a temporary name that is
// renamed when whole, so that a forwarding service never takes half a file.
// The line for the log: what was written, or why not.
QString WriteBufrFile(const QString& dir, const QString& name, const QByteArray& message);

// The live station's BUFR winds: with bufr_dir in config.txt, each consensus
// period's message is written as the period closes, from the radar view's
// feed, whether or not the Winds window is open. Nothing is computed without
// the key.
class BufrOutbox : public QObject {
    Q_OBJECT
  public:
    static constexpr int kPollMs = 1000;

    BufrOutbox(const radar::RadarFeed& feed, const station::TRunConfig& settings,
               station::OperatorLog& log, winds::WindFeed::Clock clock);
    ~BufrOutbox() override;

    // What the timer calls: take the ended dwells, write a closed period.
    void poll();
    // The run has ended: its last dwell and period count.
    void finishRun();

  private:
    // The winds, made when bufr_dir is first seen set.
    winds::WindFeed* windFeed();
    void writeClosed();
    void writeProfile(const winds::WindProfile& profile, double period_s);

    const radar::RadarFeed& radar_feed_;
    const station::TRunConfig& settings_;
    station::OperatorLog& log_;
    winds::WindFeed::Clock clock_;
    std::unique_ptr<winds::WindFeed> feed_;
    int placed_listener_ = 0;
    QTimer timer_;
    QDateTime written_up_to_;  // the middle of the last period written or judged
    QString said_why_not_;     // said once, until the settings change
};

}  // namespace zarv::products
