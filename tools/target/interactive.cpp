#include "interactive.h"

#include "disk_access.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

namespace {

constexpr uint8_t kTitleAttr = 0x1F; // bright white on blue
constexpr uint8_t kFrameAttr = 0x0B; // bright cyan
constexpr uint8_t kLabelAttr = 0x07;
constexpr uint8_t kValueAttr = 0x0F;
constexpr uint8_t kGoodAttr = 0x0A;   // bright green
constexpr uint8_t kBadAttr = 0x0C;    // bright red
constexpr uint8_t kPromptAttr = 0x0E; // yellow
constexpr uint8_t kHelpAttr = 0x30;   // black on cyan
constexpr uint8_t kRebootAttr = 0xCF; // bright white on bright red
constexpr int kStatusTop = 1, kStatusBottom = 6;
constexpr int kActivityRow = 5;
constexpr int kHelpRow = 24;
constexpr const char* kPrompt = "Command> ";

const char* const kHelp =
    " dir  type NAME  dump C H S  verify  boot  help  cls   R: refresh  Del: reboot";

std::string Printf(const char* fmt, auto... args) {
    char s[256];
    std::snprintf(s, sizeof s, fmt, args...);
    return s;
}

std::string Upper(std::string s) {
    for (auto& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// File text as lines for the output box: LF ends a line, CR is dropped, TAB goes to the next
// multiple of 8, other control bytes show as '.', long lines wrap.
std::vector<std::string> TextLines(const uint8_t* p, size_t n, size_t width) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = p[i];
        if (b == '\n') {
            lines.emplace_back();
            continue;
        }
        if (b == '\r') continue;
        if (b == '\t') {
            do
                lines.back() += ' ';
            while (lines.back().size() % 8 && lines.back().size() < width);
        } else {
            lines.back() += (b < 0x20 || b == 0x7F) ? '.' : static_cast<char>(b);
        }
        if (lines.back().size() >= width) lines.emplace_back();
    }
    if (lines.back().empty()) lines.pop_back();
    return lines;
}

} // namespace

TInteractiveSession::TInteractiveSession(TTargetEngine& engine, TInteractiveOptions options)
    : engine_(engine), options_(std::move(options)) {}

void TInteractiveSession::Flush() {
    if (out_.Bytes().empty()) return;
    // Leave the console's cursor in the command line.
    out_.Goto(kCommandRow, int(std::string(kPrompt).size() + input_.size()));
    engine_.Line().Write(out_.Bytes().data(), out_.Bytes().size());
    out_.Reset();
}

void TInteractiveSession::Run() {
    auto stopped = [this] { return (options_.stop && *options_.stop) || engine_.PastDeadline(); };
    TStatusAnswer answer = TStatusAnswer::saNone;
    while (!stopped() && engine_.Line().IsOpen() && answer == TStatusAnswer::saNone) {
        answer = engine_.WaitForConsole(options_.connect_probe_limit_ms);
    }
    if (answer == TStatusAnswer::saNone) return;
    Start(answer);
    while (!stopped()) {
        const int b = engine_.Line().ReadByte(decoder_.Pending() ? 60 : 500);
        if (b == kLineHungUp) return;
        if (b == kLineTimedOut)
            OnSilence();
        else
            OnByte(static_cast<uint8_t>(b));
    }
}

void TInteractiveSession::Event(const std::string& line) {
    if (!options_.events) return;
    std::fprintf(options_.events, "%s\n", line.c_str());
    std::fflush(options_.events);
}

void TInteractiveSession::Start(TStatusAnswer answer) {
    image_ = answer;
    engine_.ReleaseKeys();
    DrawAll();
    Say("Target running. Type a command on the console's keyboard; 'help' lists them.", kGoodAttr);
    for (uint8_t b : engine_.TakeStray())
        OnByte(b);
    Flush();
    // After the screen went out, so that a script that sees this line sees the screen drawn.
    Event(answer == TStatusAnswer::saImage ? "connected image=1" : "connected image=0");
}

void TInteractiveSession::DrawAll() {
    out_.Invalidate();
    out_.Clear();
    out_.Field(0, 0, kTitleAttr, " Quorvik target simulator", kColumns);
    const std::string line = "line " + options_.line_name + " ";
    out_.Field(0, kColumns - int(line.size()) - 1, kTitleAttr, line, int(line.size()));
    out_.Box(kStatusTop, 0, kStatusBottom, kColumns - 1, kFrameAttr, true, "Status");
    out_.Box(kOutputTop - 1, 0, kOutputTop + kOutputRows, kColumns - 1, kFrameAttr, false,
             "Output");
    // The help line fills the last row; its last cell sends the cursor back to column 0 of
    // that row, and nothing scrolls.
    out_.Field(kHelpRow, 0, kHelpAttr, kHelp, kColumns);
    DrawStatus();
    DrawOutput();
    DrawInput();
}

void TInteractiveSession::DrawStatus() {
    const char* image = image_ == TStatusAnswer::saImage     ? "attached (status query: 55)"
                        : image_ == TStatusAnswer::saNoImage ? "none (status query: AA)"
                                                             : "unknown (no answer)";
    out_.Field(2, 2, kLabelAttr, "Floppy image :", 15);
    out_.Field(2, 17, image_ == TStatusAnswer::saImage ? kGoodAttr : kBadAttr, image, 30);
    std::string geo = "not read yet (boot)";
    if (geo_) {
        geo = Printf("%u cyl, %u hd, %u sec", unsigned(geo_->Cylinders()), unsigned(geo_->heads),
                     unsigned(geo_->sectors_per_track));
    }
    out_.Field(2, 47, kLabelAttr, "Geometry:", 10);
    out_.Field(2, 57, kValueAttr, geo, 21);
    out_.Field(3, 2, kLabelAttr, "Last key     :", 15);
    out_.Field(3, 17, kValueAttr, last_key_, 61);
    const TEngineStats& s = engine_.Stats();
    out_.Field(4, 2, kLabelAttr, "Counters     :", 15);
    out_.Field(4, 17, kValueAttr,
               Printf("keys %llu  requests %llu  retries %llu  sectors %llu",
                      (unsigned long long)keys_, (unsigned long long)s.requests_sent,
                      (unsigned long long)s.retries, (unsigned long long)s.sectors_moved),
               61);
    out_.Field(kActivityRow, 2, kLabelAttr, "Activity     :", 15);
    out_.Field(kActivityRow, 17, activity_attr_, activity_, 61);
}

void TInteractiveSession::DrawOutput() {
    for (int i = 0; i < kOutputRows; ++i) {
        const TOutLine* l = i < int(output_.size()) ? &output_[size_t(i)] : nullptr;
        out_.Field(kOutputTop + i, 2, l ? l->attr : kLabelAttr, l ? l->text : "", kOutputWidth);
    }
}

void TInteractiveSession::DrawInput() {
    out_.Field(kCommandRow, 0, kPromptAttr, kPrompt, int(std::string(kPrompt).size()));
    out_.Field(kCommandRow, int(std::string(kPrompt).size()), kValueAttr, input_,
               kColumns - int(std::string(kPrompt).size()));
}

void TInteractiveSession::SetActivity(const std::string& text, uint8_t attr) {
    activity_ = text;
    activity_attr_ = attr;
    out_.Field(kActivityRow, 17, attr, text, 61);
    Flush();
}

void TInteractiveSession::Say(const std::string& text, uint8_t attr) {
    SayMany({{text, attr}});
}

void TInteractiveSession::SayMany(std::vector<TOutLine> lines) {
    if (!pending_.empty()) {
        // A page is waiting: new lines queue behind it.
        pending_.insert(pending_.end(), lines.begin(), lines.end());
        return;
    }
    pending_.assign(lines.begin(), lines.end());
    ShowPage();
}

void TInteractiveSession::ShowPage() {
    // Up to one box of lines at a time; when more wait, the last row asks for a key.
    const size_t room = size_t(kOutputRows);
    const size_t take = pending_.size() > room ? room - 1 : pending_.size();
    bool scrolled = false;
    for (size_t i = 0; i < take; ++i) {
        TOutLine l = pending_.front();
        pending_.pop_front();
        if (l.text.size() > size_t(kOutputWidth)) l.text.resize(size_t(kOutputWidth));
        output_.push_back(l);
        if (output_.size() > room) {
            output_.pop_front();
            scrolled = true;
        }
    }
    if (!pending_.empty()) {
        output_.push_back(
            {Printf("-- %zu more lines: Space or Enter for more, Esc to stop --", pending_.size()),
             kPromptAttr});
        if (output_.size() > room) output_.pop_front();
        scrolled = true;
    }
    if (scrolled) {
        DrawOutput();
    } else {
        for (size_t i = output_.size() - take; i < output_.size(); ++i)
            out_.Field(kOutputTop + int(i), 2, output_[i].attr, output_[i].text, kOutputWidth);
    }
    Flush();
}

std::vector<std::string> TInteractiveSession::OutputLines() const {
    std::vector<std::string> v;
    for (const auto& l : output_)
        v.push_back(l.text);
    return v;
}

void TInteractiveSession::OnSilence() {
    std::vector<TKeyEvent> keys;
    decoder_.Flush(keys);
    for (const auto& k : keys)
        HandleKey(k);
    Flush();
}

void TInteractiveSession::OnByte(uint8_t b) {
    std::vector<TKeyEvent> keys;
    decoder_.Feed(b, keys);
    for (const auto& k : keys)
        HandleKey(k);
    Flush();
}

void TInteractiveSession::HandleKey(const TKeyEvent& key) {
    ReactToKey(key);
    // Events are reported once the reaction is on the line.
    Flush();
    Event("key " + HexBytes(key.bytes) + " " + key.name);
    if (key.kind == TKeyKind::kkReboot) Event("reboot");
    if (key.kind == TKeyKind::kkRefresh) Event("refresh");
}

void TInteractiveSession::ReactToKey(const TKeyEvent& key) {
    ++keys_;
    last_key_ = HexBytes(key.bytes) + "   " + key.name;
    out_.Field(3, 17, kValueAttr, last_key_, 61);
    out_.Field(4, 17, kValueAttr,
               Printf("keys %llu  requests %llu  retries %llu  sectors %llu",
                      (unsigned long long)keys_, (unsigned long long)engine_.Stats().requests_sent,
                      (unsigned long long)engine_.Stats().retries,
                      (unsigned long long)engine_.Stats().sectors_moved),
               61);

    if (key.kind == TKeyKind::kkReboot) {
        // What a target does on Ctrl-Alt-Del: start over, with the screen cleared and the disk
        // forgotten.
        ++reboots_;
        out_.Field(0, 0, kRebootAttr, "  *** Reboot code 1B 7F received: restarting ***", kColumns);
        Flush();
        geo_.reset();
        input_.clear();
        output_.clear();
        pending_.clear();
        image_ = engine_.QueryStatus(engine_.Times().answer_ms);
        engine_.ReleaseKeys();
        DrawAll();
        Say(Printf("Rebooted (reboot code 1B 7F, %d so far).", reboots_), kBadAttr);
        return;
    }
    if (key.kind == TKeyKind::kkRefresh) {
        ++refreshes_;
        DrawAll();
        Say(Printf("Refresh request (12): screen drawn again (%d so far).", refreshes_), kGoodAttr);
        return;
    }
    if (!pending_.empty()) {
        if (key.kind == TKeyKind::kkEscape || (key.kind == TKeyKind::kkChar && key.ch == 'q')) {
            pending_.clear();
            Say("(stopped)", kLabelAttr);
        } else if (key.kind == TKeyKind::kkEnter ||
                   (key.kind == TKeyKind::kkChar && key.ch == ' ')) {
            ShowPage();
        }
        return;
    }
    switch (key.kind) {
    case TKeyKind::kkChar:
        if (input_.size() < kMaxInput) {
            input_ += static_cast<char>(key.ch);
            DrawInput();
        }
        break;
    case TKeyKind::kkBackspace:
        if (!input_.empty()) {
            input_.pop_back();
            DrawInput();
        }
        break;
    case TKeyKind::kkEscape:
        input_.clear();
        DrawInput();
        break;
    case TKeyKind::kkEnter: {
        const std::string command = input_;
        input_.clear();
        DrawInput();
        Say(std::string(kPrompt) + command, kPromptAttr);
        RunCommand(command);
        break;
    }
    default: break;
    }
}

void TInteractiveSession::RunCommand(const std::string& command) {
    Dispatch(command);
    Flush();
    if (command.find_first_not_of(' ') != std::string::npos) Event("command " + command);
}

void TInteractiveSession::Dispatch(const std::string& command) {
    std::istringstream in(command);
    std::string verb;
    in >> verb;
    std::string rest;
    std::getline(in, rest);
    rest.erase(0, rest.find_first_not_of(' '));
    verb = Upper(verb);
    if (verb.empty()) return;
    if (verb == "HELP" || verb == "?") return CmdHelp();
    if (verb == "CLS") {
        output_.clear();
        DrawAll();
        return Flush();
    }
    if (verb == "BOOT") return CmdBoot();
    if (verb == "DIR") return CmdDir();
    if (verb == "TYPE") return CmdType(rest);
    if (verb == "DUMP") return CmdDump(rest);
    if (verb == "VERIFY") return CmdVerify();
    Say("Unknown command '" + verb + "'. Type help.", kBadAttr);
}

void TInteractiveSession::CmdHelp() {
    SayMany({
        {"boot        read the boot sector and show the geometry", kLabelAttr},
        {"dir         list the root directory (FAT12)", kLabelAttr},
        {"type NAME   show a file of the root directory", kLabelAttr},
        {"dump C H S  hex of one sector (cylinder, head, sector from 1)", kLabelAttr},
        {"verify      read every sector: checksum and rate", kLabelAttr},
        {"cls         clear the output; R redraws the screen, Del reboots", kLabelAttr},
    });
}

bool TInteractiveSession::BeginDisk() {
    // Hold the console's keyboard during the exchange, so that no key byte lands between
    // frames; the answer says whether an image is attached.
    image_ = engine_.QueryStatus(engine_.Times().answer_ms);
    out_.Field(2, 17, image_ == TStatusAnswer::saImage ? kGoodAttr : kBadAttr,
               image_ == TStatusAnswer::saImage     ? "attached (status query: 55)"
               : image_ == TStatusAnswer::saNoImage ? "none (status query: AA)"
                                                    : "unknown (no answer)",
               30);
    if (image_ == TStatusAnswer::saImage) return true;
    Say(image_ == TStatusAnswer::saNoImage
            ? "No floppy image: Disconnect, tick Floppy..., choose an image, Connect."
            : "The console does not answer the status query.",
        kBadAttr);
    EndDisk();
    return false;
}

void TInteractiveSession::EndDisk() {
    engine_.ReleaseKeys();
    for (uint8_t b : engine_.TakeStray()) {
        std::vector<TKeyEvent> keys;
        decoder_.Feed(b, keys);
        for (const auto& k : keys)
            HandleKey(k);
    }
    DrawStatus();
    Flush();
}

std::string TInteractiveSession::Failure(const TXferResult& r) const {
    if (r.status == TXferStatus::xsDiskError)
        return "disk error: " + DiskStatusText(r.reply.regs.Ah());
    if (r.status == TXferStatus::xsGaveUp)
        return Printf("no good answer after %d tries (%s)", r.attempts, XferStatusName(r.last));
    return XferStatusName(r.status);
}

bool TInteractiveSession::EnsureGeometry() {
    if (geo_) return true;
    uint8_t boot[kSectorBytes];
    SetActivity("reading the boot sector");
    const TXferResult r = ReadBootSector(engine_, boot);
    if (r.status != TXferStatus::xsOk) {
        Say("Boot sector: " + Failure(r), kBadAttr);
        SetActivity("");
        return false;
    }
    TBootInfo info;
    std::string why;
    if (!ParseBootSector(boot, info, &why)) {
        Say("Boot sector gives no usable geometry: " + why, kBadAttr);
        SetActivity("");
        return false;
    }
    geo_ = info;
    SetActivity("");
    return true;
}

void TInteractiveSession::CmdBoot() {
    if (!BeginDisk()) return;
    geo_.reset();
    if (EnsureGeometry()) {
        const TBootInfo& b = *geo_;
        SayMany({
            {Printf("OEM name '%s', volume label '%s', type '%s'", b.oem.c_str(), b.label.c_str(),
                    b.fs_type.c_str()),
             kValueAttr},
            {Printf("%u bytes per sector, %u sectors per cluster, %u reserved, %u FATs of %u",
                    b.bytes_per_sector, b.sectors_per_cluster, b.reserved_sectors, b.fats,
                    b.sectors_per_fat),
             kLabelAttr},
            {Printf("%u root entries, %lu sectors in all, media %02X", b.root_entries,
                    (unsigned long)b.total_sectors, b.media),
             kLabelAttr},
            {Printf("Geometry: %u cylinders, %u heads, %u sectors per track",
                    unsigned(b.Cylinders()), b.heads, b.sectors_per_track),
             kGoodAttr},
        });
    }
    EndDisk();
}

bool TInteractiveSession::LoadRootAndFat(std::vector<TDirEntry>& entries,
                                         std::vector<uint8_t>* fat) {
    if (!EnsureGeometry()) return false;
    const TBootInfo& b = *geo_;
    std::vector<uint8_t> root(size_t(b.RootDirSectors()) * kSectorBytes);
    SetActivity("reading the root directory");
    TXferResult r = ReadRange(engine_, b, b.RootDirLba(), b.RootDirSectors(), root.data());
    if (r.status != TXferStatus::xsOk) {
        Say("Root directory: " + Failure(r), kBadAttr);
        SetActivity("");
        return false;
    }
    entries = ParseDirectory(root.data(), root.size());
    if (fat) {
        fat->resize(size_t(b.sectors_per_fat) * kSectorBytes);
        SetActivity("reading the FAT");
        r = ReadRange(engine_, b, b.reserved_sectors, b.sectors_per_fat, fat->data());
        if (r.status != TXferStatus::xsOk) {
            Say("FAT: " + Failure(r), kBadAttr);
            SetActivity("");
            return false;
        }
    }
    SetActivity("");
    return true;
}

void TInteractiveSession::CmdDir() {
    if (!BeginDisk()) return;
    std::vector<TDirEntry> entries;
    if (LoadRootAndFat(entries, nullptr)) {
        std::vector<TOutLine> lines;
        uint64_t bytes = 0;
        int files = 0;
        for (const auto& e : entries) {
            if (e.IsLabel()) {
                lines.push_back({"Volume " + e.name, kPromptAttr});
                continue;
            }
            lines.push_back({FormatDirLine(e), e.IsDirectory() ? kFrameAttr : kValueAttr});
            if (!e.IsDirectory()) {
                ++files;
                bytes += e.size;
            }
        }
        lines.push_back(
            {Printf("%d file(s), %llu bytes", files, (unsigned long long)bytes), kGoodAttr});
        SayMany(std::move(lines));
    }
    EndDisk();
}

void TInteractiveSession::CmdType(const std::string& name) {
    if (name.empty()) return Say("type NAME: which file?", kBadAttr);
    if (!BeginDisk()) return;
    std::vector<TDirEntry> entries;
    std::vector<uint8_t> fat;
    if (LoadRootAndFat(entries, &fat)) {
        const TBootInfo& b = *geo_;
        const std::string want = Upper(name);
        auto it = std::find_if(entries.begin(), entries.end(), [&](const TDirEntry& e) {
            return !e.IsLabel() && !e.IsDirectory() && e.name == want;
        });
        if (!b.IsFat12()) {
            Say("Not a FAT12 volume.", kBadAttr);
        } else if (it == entries.end()) {
            Say("File not found: " + want, kBadAttr);
        } else {
            const size_t cluster_bytes = size_t(b.sectors_per_cluster) * kSectorBytes;
            const size_t size = std::min<size_t>(it->size, kMaxTypeBytes);
            const auto chain = ClusterChain(fat.data(), fat.size(), it->first_cluster, b.Clusters(),
                                            (size + cluster_bytes - 1) / cluster_bytes);
            std::vector<uint8_t> data(chain.size() * cluster_bytes);
            bool ok = true;
            for (size_t i = 0; i < chain.size() && ok; ++i) {
                SetActivity(
                    Printf("reading %s: cluster %zu of %zu", want.c_str(), i + 1, chain.size()));
                const uint32_t lba = b.DataLba() + uint32_t(chain[i] - 2) * b.sectors_per_cluster;
                const TXferResult r = ReadRange(engine_, b, lba, b.sectors_per_cluster,
                                                data.data() + i * cluster_bytes);
                if (r.status != TXferStatus::xsOk) {
                    Say(want + ": " + Failure(r), kBadAttr);
                    ok = false;
                }
            }
            SetActivity("");
            if (ok) {
                const size_t have = std::min(size, data.size());
                std::vector<TOutLine> lines;
                for (auto& l : TextLines(data.data(), have, size_t(kOutputWidth)))
                    lines.push_back({l, kValueAttr});
                std::string tail =
                    Printf("-- %s, %lu bytes", want.c_str(), (unsigned long)it->size);
                if (have < it->size) tail += Printf(", first %zu shown", have);
                lines.push_back({tail + " --", kGoodAttr});
                SayMany(std::move(lines));
            }
        }
    }
    EndDisk();
}

void TInteractiveSession::CmdDump(const std::string& args) {
    std::istringstream in(args);
    int c = -1, h = -1, s = -1;
    in >> c >> h >> s;
    if (!in || c < 0 || c > 255 || h < 0 || h > 255 || s < 1 || s > 255)
        return Say("dump C H S: cylinder 0-255, head 0-255, sector 1-255", kBadAttr);
    if (!BeginDisk()) return;
    uint8_t sector[kSectorBytes];
    const TXferResult r = engine_.Read(TChs{uint8_t(c), uint8_t(h), uint8_t(s)}, 1, sector);
    if (r.status != TXferStatus::xsOk) {
        Say(Printf("Sector %d/%d/%d: ", c, h, s) + Failure(r), kBadAttr);
    } else {
        std::vector<TOutLine> lines;
        lines.push_back({Printf("Cylinder %d, head %d, sector %d:", c, h, s), kGoodAttr});
        for (int off = 0; off < int(kSectorBytes); off += 16) {
            std::string l = Printf("%03X ", off);
            for (int i = 0; i < 16; ++i)
                l += Printf(i == 8 ? "-%02X" : " %02X", sector[off + i]);
            l += "  ";
            for (int i = 0; i < 16; ++i) {
                const uint8_t ch = sector[off + i];
                l += (ch < 0x20 || ch == 0x7F) ? '.' : static_cast<char>(ch);
            }
            lines.push_back({l, kValueAttr});
        }
        SayMany(std::move(lines));
    }
    EndDisk();
}

void TInteractiveSession::CmdVerify() {
    if (!BeginDisk()) return;
    if (EnsureGeometry()) {
        const TBootInfo& b = *geo_;
        std::vector<uint8_t> image(size_t(b.total_sectors) * kSectorBytes);
        const uint32_t per_cyl = uint32_t(b.sectors_per_track) * b.heads;
        const auto t0 = TClock::now();
        uint32_t shown_cyl = ~0u;
        const TXferResult r =
            ReadRange(engine_, b, 0, b.total_sectors, image.data(), [&](uint32_t done) {
                const uint32_t cyl = done / per_cyl;
                if (cyl == shown_cyl) return;
                shown_cyl = cyl;
                const int bar = int(40 * uint64_t(done) / b.total_sectors);
                SetActivity(
                    Printf("verify %3u%% ", unsigned(100 * uint64_t(done) / b.total_sectors)) +
                        std::string(size_t(bar), char(cp437::kBlock)) +
                        std::string(size_t(40 - bar), char(cp437::kShade)),
                    kGoodAttr);
            });
        const double secs = std::chrono::duration<double>(TClock::now() - t0).count();
        SetActivity("");
        if (r.status != TXferStatus::xsOk) {
            Say("verify: " + Failure(r), kBadAttr);
        } else {
            Say(Printf("verify: %lu sectors read, CRC-32 %08X, %.1f s, %.0f sectors/s",
                       (unsigned long)b.total_sectors, Crc32(image.data(), image.size()), secs,
                       secs > 0 ? b.total_sectors / secs : 0.0),
                kGoodAttr);
        }
    }
    EndDisk();
}
