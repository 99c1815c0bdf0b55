// The console's port on the serial component.
#include "comm.h"
#include "console_port.h"

namespace {

class TCommConsolePort final : public TConsolePort {
  public:
    explicit TCommConsolePort(TMainThreadPoster& poster) : comm_(nullptr) {
        comm_.SetDeviceName("Com2"); // never opened: Connect names COM1 or COM2
        comm_.ReadTimeout = 100;
        comm_.SetReadBufSize(8192);
        comm_.SetWriteBufSize(8192);
        comm_.SetMonitorEvents(TCommEvents{evBreak, evError, evRxChar});
        comm_.SetBaudRate(br115200);
        comm_.SetFlowControl(fcNone);
        comm_.SetMainThreadPoster(&poster);
    }

    int InQueCount() override { return comm_.InQueCount(); }
    int Read(char* buffer, unsigned long count) override { return comm_.Read(buffer, count); }
    int Write(const char* buffer, unsigned long count) override {
        return comm_.Write(buffer, count);
    }

    void SetEvents(TEvents events) override {
        comm_.OnRxChar = std::move(events.rx_char);
        comm_.OnBreak = std::move(events.line_break);
        comm_.OnError = std::move(events.line_error);
    }
    void SetDeviceName(const std::string& name) override { comm_.SetDeviceName(name); }
    const std::string& DeviceName() const override { return comm_.DeviceName(); }
    std::string DevicePath() const override { return comm_.DevicePath(); }
    void Open() override { comm_.Open(); }
    void Close() override { comm_.Close(); }
    bool Enabled() const override { return comm_.Enabled(); }
    std::string DescribeOpenFailure() const override { return comm_.DescribeOpenFailure(); }
    std::string PortLine() const override { return comm_.PortLine(); }
    std::string OpenAdvice() const override { return comm_.OpenAdvice(); }
    std::string PortLine(const std::string& name) const override { return comm_.PortLine(name); }
    void MapPort(const std::string& com_name, const std::string& target) override {
        comm_.MapPort(com_name, target);
    }
    std::string MappedPort(const std::string& com_name) const override {
        return comm_.MappedPort(com_name);
    }
    int ConnectTimeoutMs() const override { return comm_.ConnectTimeoutMs; }
    void SetConnectTimeoutMs(int ms) override { comm_.ConnectTimeoutMs = ms; }

  private:
    TComm comm_;
};

} // namespace

std::unique_ptr<TConsolePort> MakeCommPort(TMainThreadPoster& poster) {
    return std::make_unique<TCommConsolePort>(poster);
}
