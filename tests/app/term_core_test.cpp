// quorvik-term's decisions without a terminal: its command line and scripts, the keys'
// bytes, the scripted run's step machine, which rows a terminal shows, the status row, the
// colours and the command key.
#include "command_line.h"
#include "fakes.h"
#include "keyaction.h"
#include "script_run.h"
#include "term_console.h"
#include "term_options.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace std::chrono_literals;

TTermCommandLine Parse(const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& files = {}) {
    return ParseTermCommandLine(args, false, [&](const std::string& path, std::string* bytes,
                                                 std::string* reason) {
        const auto it = files.find(path);
        if (it == files.end()) {
            *reason = "No such file or directory";
            return false;
        }
        *bytes = it->second;
        return true;
    });
}

std::string KeyBytes(const std::string& name) {
    TKeySpec key;
    std::string error;
    EXPECT_TRUE(ParseKeyName(name, &key, &error)) << name << ": " << error;
    return ToHex(Bytes(key.bytes));
}

std::string Keystrokes(const std::string& text) {
    std::string keys, error;
    EXPECT_TRUE(SendKeystrokes(text, &keys, &error)) << error;
    return ToHex(Bytes(keys));
}

std::string TermKey(const TTermKey& key) { return ToHex(Bytes(TermKeyBytes(key))); }

void Write(TScreen& screen, int row, const std::string& text) {
    screen.SetCursor(0, row);
    for (char c : text) screen.Putch(static_cast<uint8_t>(c));
}

} // namespace

TEST(TermCommandLine, OptionsAndStepsInOrderWithTheTimeLimitInForce) {
    const TTermCommandLine c =
        Parse({"--port", "tcp://lab:7001", "--image", "a.img", "--log", "l.txt", "--trace",
               "t.txt", "--screen", "--expect", "A:\\>", "--timeout", "2.5", "--send", "dir\\r",
               "--script", "boot.txt", "--key", "F1"},
              {{"boot.txt", "# boot it\nexpect-re 'boot: ?$'  # the prompt\n\ntimeout 60\n"
                            "quiet 500\nsave-screen \"my screen.ans\"\n"}});
    ASSERT_EQ(c.action, taRun) << c.output;
    const TTermOptions& o = c.options;
    EXPECT_EQ(o.port, "tcp://lab:7001");
    EXPECT_EQ(o.image, "a.img");
    EXPECT_EQ(o.text_log, "l.txt");
    EXPECT_EQ(o.line_trace, "t.txt");
    EXPECT_TRUE(o.print_screen);
    ASSERT_EQ(o.steps.size(), 6u);
    EXPECT_EQ(o.steps[0].text, "A:\\>"); // a backslash before '>' stands for itself
    EXPECT_EQ(o.steps[0].timeout_ms, 30000);
    EXPECT_EQ(o.steps[1].Words(), "send \"dir\\r\"");
    EXPECT_EQ(o.steps[1].timeout_ms, 2500);
    EXPECT_EQ(o.steps[2].kind, skExpectRe);
    EXPECT_EQ(o.steps[2].text, "boot: ?$");
    EXPECT_EQ(o.steps[2].timeout_ms, 2500);
    EXPECT_EQ(o.steps[3].quiet_ms, 500);
    EXPECT_EQ(o.steps[3].timeout_ms, 60000); // the script's timeout holds after it too
    EXPECT_EQ(o.steps[4].text, "my screen.ans");
    EXPECT_EQ(o.steps[5].Words(), "key F1");
    EXPECT_EQ(o.steps[5].timeout_ms, 60000);
}

TEST(TermCommandLine, AUsageErrorIsOneLineSayingWhatIsWrong) {
    const std::map<std::string, std::string> files = {
        {"bad.txt", "expect ok\n  send \"unclosed\n"}, {"two.txt", "key F1 F2\n"},
        {"what.txt", "press F1\n"}};
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"dir"}, "unexpected argument \"dir\""},
        {{"--expect"}, "--expect needs a value"},
        {{"--port", ""}, "--port needs a value that is not empty"},
        {{"--key", "F13"}, "no key is named \"F13\""},
        {{"--timeout", "0"}, "timeout takes a number of seconds above 0"},
        {{"--quiet", "1.5"}, "quiet takes whole milliseconds"},
        {{"--expect-re", "(unclosed"}, "is no regular expression"},
        {{"--expect-re", "(a)\\8888888888888888888"}, "backreference above 999"},
        {{"--expect-re", "[\\9999]"}, "backreference above 999"},
        {{"--expect-re", "a{1,100000}"}, "repeat count or backreference above 999"},
        {{"--send", "\\x4"}, "\\x needs two hex digits"},
        {{"--send", "\x01"}, "1 character that no key types"},
        {{"--script", "missing.txt"}, "cannot read the script missing.txt: No such file"},
        {{"--script", "bad.txt"}, "bad.txt:2: a double quote is not closed"},
        {{"--script", "two.txt"}, "two.txt:1: key takes one word"},
        {{"--script", "what.txt"}, "what.txt:1: \"press\" is no step"},
    };
    for (const auto& [args, what] : cases) {
        const TTermCommandLine c = Parse(args, files);
        EXPECT_EQ(c.action, taUsage) << args[0];
        EXPECT_NE(c.output.find(what), std::string::npos) << c.output;
        EXPECT_EQ(c.output.rfind("quorvik-term: ", 0), 0u) << c.output;
        EXPECT_EQ(c.output.find('\n'), c.output.size() - 1) << c.output;
    }
    EXPECT_EQ(Parse({"--expect-re", "\\\\1234 x{2,999} 2026-12"}).action, taRun);
    EXPECT_EQ(Parse({"--expect", "x", "--help"}).action, taHelp);
    EXPECT_EQ(Parse({"--version"}).output, std::string("quorvik-term ") + kProgramVersion + "\n");
}

TEST(TermCommandLine, StepsMakeAScriptedRunAndWithoutThemATerminalIsNeeded) {
    TTermOptions with_steps;
    with_steps.steps.push_back({});
    std::string error;
    EXPECT_EQ(ChooseRunMode(with_steps, false, false, false, &error), rmScripted);
    EXPECT_EQ(ChooseRunMode(with_steps, true, true, true, &error), rmScripted);
    EXPECT_EQ(ChooseRunMode({}, true, true, true, &error), rmTerminal);
    EXPECT_EQ(ChooseRunMode({}, true, false, true, &error), rmUsage);
    EXPECT_NE(error.find("needs a terminal"), std::string::npos);
    EXPECT_EQ(ChooseRunMode({}, true, true, false, &error), rmUsage); // Windows
    EXPECT_NE(error.find("no terminal front end"), std::string::npos);
    const std::string windows = ParseTermCommandLine({"--help"}, true, {}).output;
    EXPECT_NE(windows.find("runs scripts only"), std::string::npos);
}

TEST(TermScript, WordsQuotesAndEscapes) {
    std::vector<std::string> words;
    std::string error;
    ASSERT_TRUE(SplitWords("send \"say \\\"hi\\\"\\r\" # done", &words, &error));
    EXPECT_EQ(words, (std::vector<std::string>{"send", "say \"hi\"\\r"}));
    ASSERT_TRUE(SplitWords("expect-re '\\d+ bytes'", &words, &error));
    EXPECT_EQ(words[1], "\\d+ bytes");
    std::string out;
    ASSERT_TRUE(Unescape("a\\r\\n\\t\\e\\\\\\x41\\q", &out, &error));
    EXPECT_EQ(out, "a\r\n\t\x1B\\A\\q");
    // Typed as the paste types: line ends and \r as Enter, a code page letter as its byte,
    // \e and \xHH as those bytes.
    EXPECT_EQ(Keystrokes("dir\\r"), "64 69 72 0D");
    EXPECT_EQ(Keystrokes("a\nb\\n"), "61 0D 62 0D");
    EXPECT_EQ(Keystrokes("\\e\\x03\\\\\\t"), "1B 03 5C 09");
    EXPECT_EQ(Keystrokes("caf\xC3\xA9"), "63 61 66 82");
}

TEST(TermKeys, NamedKeysSendWhatTheWindowSends) {
    EXPECT_EQ(KeyBytes("Enter"), "0D");
    EXPECT_EQ(KeyBytes("esc"), "1B");
    EXPECT_EQ(KeyBytes("Tab"), "09");
    EXPECT_EQ(KeyBytes("Backspace"), "08");
    EXPECT_EQ(KeyBytes("Up"), "1B 5B 41");
    EXPECT_EQ(KeyBytes("Home"), "1B 5B 48");
    EXPECT_EQ(KeyBytes("End"), "1B 5B 4B");
    EXPECT_EQ(KeyBytes("PgUp"), "1B 3F");
    EXPECT_EQ(KeyBytes("PgDn"), "1B 2F");
    EXPECT_EQ(KeyBytes("Ins"), "1B 5B 40");
    EXPECT_EQ(KeyBytes("Del"), "1B 2D");
    EXPECT_EQ(KeyBytes("F1"), "1B 31");
    EXPECT_EQ(KeyBytes("F10"), "1B 30");
    EXPECT_EQ(KeyBytes("F12"), "1B 40");
    EXPECT_EQ(KeyBytes("Ctrl+F9"), "1B 3A");
    EXPECT_EQ(KeyBytes("Shift+F9"), "1B 39");
    EXPECT_EQ(KeyBytes("Ctrl+Up"), "1B 5B 41");
    EXPECT_EQ(KeyBytes("Ctrl+C"), "03");
    EXPECT_EQ(KeyBytes("Ctrl+["), "1B");
    EXPECT_EQ(KeyBytes("Ctrl+Space"), "00");
    EXPECT_EQ(KeyBytes("Alt+x"), "78"); // Alt changes nothing that is sent
    EXPECT_EQ(KeyBytes("Shift+a"), "41");
    EXPECT_EQ(KeyBytes("?"), "3F");
    TKeySpec key;
    std::string error;
    ASSERT_TRUE(ParseKeyName("CtrlAltDel", &key, &error));
    EXPECT_TRUE(key.reboot);
    ASSERT_TRUE(ParseKeyName("Ctrl+Alt+Del", &key, &error));
    EXPECT_TRUE(key.reboot);
    EXPECT_FALSE(ParseKeyName("Ctrl+", &key, &error));
    EXPECT_FALSE(ParseKeyName("Hyper+a", &key, &error));
}

TEST(TermKeys, TerminalKeysAsTheWindowWouldSendThem) {
    EXPECT_EQ(TermKey(TTermKey::Character('a')), "61");
    EXPECT_EQ(TermKey(TTermKey::Character('A')), "41");
    EXPECT_EQ(TermKey(TTermKey::Character('a', ksAlt)), "61");
    EXPECT_EQ(TermKey(TTermKey::Character(0x0D)), "0D");
    EXPECT_EQ(TermKey(TTermKey::Character(0x7F)), "08"); // a terminal's Backspace
    EXPECT_EQ(TermKey(TTermKey::Character(0x08)), "08");
    EXPECT_EQ(TermKey(TTermKey::Character(0x1B)), "1B");
    EXPECT_EQ(TermKey(TTermKey::Character(0x01)), "01");    // Ctrl+A
    EXPECT_EQ(TermKey(TTermKey::Character(0x00)), "00");    // Ctrl+Space
    EXPECT_EQ(TermKey(TTermKey::Character(0x1C)), "1C");    // Ctrl+backslash
    EXPECT_EQ(TermKey(TTermKey::Character(0x1E)), "");      // no key of the table sends it
    EXPECT_EQ(TermKey(TTermKey::Character(U'\u00E9')), "82"); // as a paste types it
    EXPECT_EQ(TermKey(TTermKey::Character(U'\u2502')), "B3");
    EXPECT_EQ(TermKey(TTermKey::Character(U'\u263A')), "");   // the picture of 01
    EXPECT_EQ(TermKey(TTermKey::Named(nkDown, ksCtrl)), "1B 5B 42");
    EXPECT_EQ(TermKey(TTermKey::Named(static_cast<TNamedKey>(nkF1 + 8), ksCtrl)), "1B 3A");
}

class TermScriptRun : public testing::Test {
  protected:
    std::vector<TScriptStep> Steps(const std::string& script) {
        std::vector<TScriptStep> steps;
        int timeout = kDefaultStepTimeoutMs;
        std::string error;
        EXPECT_TRUE(ParseScript(script, "test", &timeout, &steps, &error)) << error;
        return steps;
    }
    TRunAction Poll(TScriptRun& run, std::chrono::milliseconds at) {
        return run.Poll(t0 + at, screen, history, link);
    }
    // The top row leaves for the history, as a redraw one row higher would have it leave.
    void Scroll(const std::string& row) {
        TScreen old;
        Write(old, 0, row);
        history.Push(&old.Cell(0, 0));
    }

    TScriptRun::TClock::time_point t0{std::chrono::seconds(1000)};
    TScreen screen;
    THistory history;
    TRunLinkState link;
};

TEST_F(TermScriptRun, AnExpectSeesTheScreenAndRowsThatScrolledPastSinceTheLastMatch) {
    TScriptRun run(Steps("expect \"one\"\nexpect two\nexpect-re \"t.ree\"\nexpect \"one\""));
    run.Start(t0, screen, history);
    EXPECT_EQ(Poll(run, 0ms).kind, raNone);
    Scroll("line one");       // scrolled past between two looks
    EXPECT_EQ(Poll(run, 10ms).kind, raNone); // the first expect matched here
    EXPECT_EQ(run.Current(), 2u);
    Write(screen, 5, "and two");
    EXPECT_EQ(Poll(run, 20ms).kind, raNone);
    EXPECT_EQ(run.Current(), 3u);
    Write(screen, 6, "three");
    EXPECT_EQ(Poll(run, 30ms).kind, raNone);
    // "one" has scrolled past before the last match: the fourth expect no longer sees it.
    EXPECT_EQ(run.Current(), 4u);
    EXPECT_EQ(Poll(run, 40ms).kind, raNone);
    Write(screen, 24, "one again");
    EXPECT_EQ(Poll(run, 50ms).kind, raDone);
    EXPECT_TRUE(run.Finished());
}

TEST_F(TermScriptRun, ATimedOutStepEndsTheRunWithItsNumberWordsAndTheScreen) {
    TScriptRun run(Steps("timeout 2\nexpect \"A:\\>\""));
    Write(screen, 3, "C:\\>");
    run.Start(t0, screen, history);
    EXPECT_EQ(Poll(run, 1999ms).kind, raNone);
    EXPECT_EQ(run.Deadline(), t0 + 2000ms);
    const TRunAction failed = Poll(run, 2000ms);
    EXPECT_EQ(failed.kind, raFailed);
    EXPECT_EQ(failed.exit_code, kExitStepFailed);
    EXPECT_EQ(failed.message, "quorvik-term: step 1 (expect \"A:\\>\") ran past its time limit "
                              "of 2 s\nThe screen:\n\n\n\nC:\\>\n");
}

TEST_F(TermScriptRun, QuietWaitsForTheScreenToRestSinceTheStepBegan) {
    TScriptRun run(Steps("quiet 300"));
    run.Start(t0, screen, history);
    EXPECT_EQ(Poll(run, 200ms).kind, raNone);
    Write(screen, 0, "x");
    EXPECT_EQ(Poll(run, 250ms).kind, raNone);
    EXPECT_EQ(run.Deadline(), t0 + 550ms);
    EXPECT_EQ(Poll(run, 549ms).kind, raNone);
    EXPECT_EQ(Poll(run, 550ms).kind, raDone);
}

TEST_F(TermScriptRun, SendsAndKeysWaitForThePortAndTheKeyHold) {
    TScriptRun run(Steps("send \"ab\\r\"\nkey Up\nkey CtrlAltDel\nsave-screen s.txt"));
    link.port_away = true;
    run.Start(t0, screen, history);
    EXPECT_EQ(Poll(run, 0ms).kind, raNone); // the port went away: waited for
    link.port_away = false;
    TRunAction typed = Poll(run, 10ms);
    EXPECT_EQ(typed.kind, raType);
    EXPECT_EQ(ToHex(Bytes(typed.data)), "61 62 0D");
    link.paste_active = true;
    link.key_hold = true;
    EXPECT_EQ(Poll(run, 20ms).kind, raNone); // still typing
    link.paste_active = false;
    EXPECT_EQ(Poll(run, 30ms).kind, raNone); // typed; the key waits for the hold's end
    EXPECT_EQ(run.Current(), 2u);
    link.key_hold = false;
    const TRunAction key = Poll(run, 40ms);
    EXPECT_EQ(key.kind, raKey);
    EXPECT_EQ(ToHex(Bytes(key.data)), "1B 5B 41");
    EXPECT_EQ(Poll(run, 40ms).kind, raReboot);
    const TRunAction save = Poll(run, 40ms);
    EXPECT_EQ(save.kind, raSaveScreen);
    EXPECT_EQ(save.data, "s.txt");
    const TRunAction failed = run.Fail(screen, "cannot write s.txt: No space left on device");
    EXPECT_EQ(failed.exit_code, kExitStepFailed);
    EXPECT_EQ(failed.message.rfind("quorvik-term: step 4 (save-screen \"s.txt\") cannot write", 0),
              0u)
        << failed.message;
}

TEST(TermLayout, TheWholeScreenFrom26RowsElseTheRowsAroundTheCursor) {
    const TTermLayout big = TermLayout(50, 132, 24, 0, false);
    EXPECT_TRUE(big.whole && big.status_row);
    EXPECT_EQ(big.rows, 25);
    EXPECT_EQ(big.columns, 80);
    const TTermLayout exact = TermLayout(25, 80, 10, 0, false);
    EXPECT_TRUE(exact.whole);
    EXPECT_FALSE(exact.status_row);
    EXPECT_EQ(LayoutNotice(exact), "No room for a status row: 26 rows show it.");

    TTermLayout small = TermLayout(24, 80, 22, 0, false);
    EXPECT_EQ(small.top, 0);
    EXPECT_EQ(small.rows, 24);
    EXPECT_FALSE(small.status_row);
    EXPECT_EQ(LayoutNotice(small),
              "Showing the 24 rows around the cursor of 25; 26 x 80 shows all and a status row.");
    small = TermLayout(24, 80, 24, small.top, false); // the cursor on the last row
    EXPECT_EQ(small.top, 1);
    small = TermLayout(24, 80, 10, small.top, false); // moves no more than needed
    EXPECT_EQ(small.top, 1);
    small = TermLayout(24, 80, 0, small.top, false);
    EXPECT_EQ(small.top, 0);
    // A prompt takes the bottom row of a terminal without a status row.
    const TTermLayout asking = TermLayout(24, 80, 23, 0, true);
    EXPECT_TRUE(asking.status_row);
    EXPECT_EQ(asking.rows, 23);
    EXPECT_EQ(asking.top, 1);
    const TTermLayout narrow = TermLayout(30, 60, 0, 0, false);
    EXPECT_EQ(narrow.columns, 60);
    EXPECT_FALSE(narrow.whole);
    EXPECT_NE(LayoutNotice(narrow).find("the first 60 of 80 columns"), std::string::npos);
}

TEST(TermStatusRow, PortImageAndStatusWithTheRightSideKeptWhenNarrow) {
    TStatusFields f;
    f.port = "COM1 is /dev/ttyUSB0 (chosen for this run).";
    f.image = "demo.img";
    f.status = "12345";
    f.locks = "NUML      SHIFT CTRL      ";
    const std::string row = StatusRowText(f, 80);
    EXPECT_EQ(row.size(), 80u);
    EXPECT_EQ(row.rfind("COM1 is /dev/ttyUSB0  demo.img   ", 0), 0u) << row; // no room for why
    EXPECT_EQ(StatusRowText(f, 100).rfind("COM1 is /dev/ttyUSB0 (chosen for this run)  demo", 0),
              0u);
    EXPECT_NE(row.find("12345 NUML SHIFT CTRL  Ctrl+] h: help"), std::string::npos) << row;
    f.key_hold = true;
    f.status = "Timeout!";
    f.image.clear();
    const std::string narrow = StatusRowText(f, 72);
    EXPECT_EQ(narrow.size(), 72u);
    EXPECT_EQ(narrow.rfind("COM1 is /dev/ttyU..  ", 0), 0u) << narrow; // cut short
    EXPECT_NE(narrow.find("..  Timeout!  keys held NUML SHIFT CTRL  Ctrl+] h: help"),
              std::string::npos)
        << narrow;
    f.port_away = true;
    EXPECT_NE(StatusRowText(f, 80).find("port away"), std::string::npos);
}

TEST(TermColours, PcColoursOnTerminalsOf16And8ColoursAndNone) {
    const TTermColour c16 = TermColour(0x1E, 16); // yellow on blue
    EXPECT_EQ(c16.foreground, 11);                 // ANSI bright yellow
    EXPECT_EQ(c16.background, 4);                  // ANSI blue
    EXPECT_EQ(TermColour(0x8F, 16).background, 8); // a bright background: dark grey
    EXPECT_EQ(TermColour(0x47, 16).background, 1); // PC red is ANSI 1
    const TTermColour c8 = TermColour(0xCE, 8);
    EXPECT_EQ(c8.foreground, 3);
    EXPECT_TRUE(c8.bold);
    EXPECT_EQ(c8.background, 1); // bright red background: red, as 8 colours allow
    EXPECT_TRUE(TermColour(0x70, 2).reverse);
    EXPECT_FALSE(TermColour(0x07, 2).reverse);
    EXPECT_EQ(TermGlyph(0xB3, true), U'\u2502');
    EXPECT_EQ(TermGlyph(0xB3, false), U'?');
    EXPECT_EQ(TermGlyph(0x00, false), U' ');
}

TEST(TermCommandKey, CtrlBracketThenOneKeyElseKeysGoToTheTarget) {
    TCommandKey k;
    const auto key = [&](char32_t c, bool log = false) {
        return k.Key(TTermKey::Character(c), log, false);
    };
    EXPECT_EQ(key('x').data, "x");
    EXPECT_EQ(key(0x1D).kind, cmNone);
    EXPECT_EQ(k.Prompt(), "Ctrl+] ... (h lists the commands)");
    EXPECT_EQ(key(0x1D).data, "\x1D"); // twice sends itself
    key(0x1D);
    EXPECT_EQ(key('q').kind, cmQuit);
    key(0x1D);
    EXPECT_EQ(key('r').kind, cmRefresh);
    key(0x1D);
    EXPECT_EQ(key('d').kind, cmReboot);
    key(0x1D);
    EXPECT_EQ(key('h').kind, cmNone);
    EXPECT_EQ(k.Prompt(), TCommandKey::kHelp);
    EXPECT_EQ(key('y').data, "y"); // the list goes with the next key, which is the target's
    EXPECT_EQ(k.Prompt(), "");
    key(0x1D);
    key('z');
    EXPECT_NE(k.Prompt().find("no command"), std::string::npos);

    // A file name asked on the status row: typed, corrected, taken with Enter.
    key(0x1D);
    key('l');
    EXPECT_TRUE(k.Asking());
    for (char32_t c : {U'l', U'o', U'x', U'\u00E9'}) key(c);
    key(0x7F);
    key(0x7F);
    EXPECT_EQ(k.Prompt(), "Text log into the file: lo");
    key('g');
    const TCommand log = key(0x0D);
    EXPECT_EQ(log.kind, cmTextLog);
    EXPECT_EQ(log.data, "log");
    EXPECT_FALSE(k.Asking());
    key(0x1D); // a log runs: l stops it
    const TCommand stop = key('l', true);
    EXPECT_EQ(stop.kind, cmTextLog);
    EXPECT_EQ(stop.data, "");
    key(0x1D);
    key('s');
    key('a');
    EXPECT_EQ(key(0x1B).kind, cmNone); // Esc gives up
    EXPECT_FALSE(k.Asking());
    EXPECT_EQ(key('a').data, "a");
}
