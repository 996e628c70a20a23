#pragma once

#include <QElapsedTimer>
#include <QObject>

#include "app/delay.h"
#include "data_file.h"
#include "stream_decoder.h"

class Station;
class TMyThread;

// Start and Stop: programs the controller from config.txt, then records beam
// after beam (1, 2, 3, 1, ...) into one data file per dwell until Stop, too many
// framing errors or a lost stream. Runs on the GUI thread inside the Start
// handler and keeps the window responsive while it waits.
class AcquisitionRun : public QObject, private StreamEvents {
  public:
    static constexpr int kChunkSize = 131072;

    explicit AcquisitionRun(Station& station);
    ~AcquisitionRun() override;

    void start_btnClick();
    void stop_btnClick();

    StreamDecoder& decoder() { return decoder_; }
    const DataFile& dataFile() const { return file_; }

  private:
    void framingError(int count) override;
    void tooManyFramingErrors() override;

    bool prepare();  // start steps up to the programmed controller
    void programController();
    void runBeams();
    bool runDwell(int beam);  // false when the run is to end
    void recordUntilDwellEnds();
    void openDataFile(int beam);
    void startReader();
    void stopReaderAndTrigger();
    void waitForReaderToEnd();
    void cleanUpAfterError() noexcept;
    void logBytesReceived(int count);

    Station& st_;
    StreamDecoder decoder_;
    DataFile file_;
    EventWaiter waiter_;
    TMyThread* reader_ = nullptr;
    bool reader_running_ = false;
    bool read_failed_ = false;
    bool trigger_on_ = false;
    QElapsedTimer beam_start_;
};
