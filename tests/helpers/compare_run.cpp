// Runs the cases of scripts/compare-builds one after another and writes what
// each run showed: its exit code and its message boxes.
//
//   compare_run.exe CASES RESULTS
//
// CASES holds one line per setting, a case ending with "end":
//   case NAME | exe PATH | args TEXT | dir DIRECTORY | version WINE-VERSION
//   env NAME=VALUE (any number) | wait LOG|DONE (when LOG says "handed off"
//   after the run, DONE is waited for up to 10 s: the process the installer
//   handed off to finishing) | end
// RESULTS gets, per case, "case NAME", "exit N" (or "start-error N"), one
// "box TITLE<TAB>TEXT<TAB>BUTTONS<TAB>ENDING" line per box (line breaks in
// the text as "\n", buttons joined by "|"), and "end".
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "harness.h"

static std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += c;
        }
    }
    return out;
}

static void WriteResult(FILE* out, const std::string& name, const RunResult& result) {
    fprintf(out, "case %s\n", name.c_str());
    if (result.startError != 0) {
        fprintf(out, "start-error %lu\n", result.startError);
    } else {
        fprintf(out, "exit %lu%s\n", result.exitCode, result.timedOut ? " (killed at the time limit)" : "");
    }
    for (const BoxRecord& box : result.boxes) {
        std::string buttons;
        for (const std::string& button : box.buttons) {
            buttons += (buttons.empty() ? "" : "|") + button;
        }
        const char* ending = box.openAtExit        ? "open at exit"
                             : box.closedByProgram ? "closed by the program"
                                                   : "pressed";
        fprintf(out, "box %s\t%s\t%s\t%s%s\n", Escaped(box.title).c_str(), Escaped(box.text).c_str(),
                buttons.c_str(), ending, box.hasOwner ? ", owned" : "");
    }
    fprintf(out, "end\n");
    fflush(out);
}

static void WaitForHandoff(const std::string& setting) {
    const size_t bar = setting.find('|');
    if (ReadTextFile(setting.substr(0, bar)).find("handed off") == std::string::npos) {
        return;
    }
    const std::string done = setting.substr(bar + 1);
    for (int i = 0; i < 500 && !PathExists(done); ++i) {
        Sleep(20);
    }
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: compare_run CASES RESULTS\n");
        return 2;
    }
    FILE* in = fopen(argv[1], "rb");
    FILE* out = fopen(argv[2], "wb");
    if (in == NULL || out == NULL) {
        fprintf(stderr, "compare_run: cannot open %s or %s\n", argv[1], argv[2]);
        return 2;
    }
    std::string name;
    std::string version;
    std::string wait;
    RunOptions options;
    options.timeoutMs = 60000;
    char line[4096];
    while (fgets(line, sizeof line, in) != NULL) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        const size_t space = text.find(' ');
        const std::string key = text.substr(0, space);
        const std::string value = space == std::string::npos ? std::string() : text.substr(space + 1);
        if (key == "case") {
            name = value;
        } else if (key == "exe") {
            options.exe = value;
        } else if (key == "args") {
            options.args = value;
        } else if (key == "dir") {
            options.currentDir = value;
        } else if (key == "version") {
            version = value;
        } else if (key == "wait") {
            wait = value;
        } else if (key == "env") {
            const size_t equals = value.find('=');
            options.env.emplace_back(value.substr(0, equals), value.substr(equals + 1));
        } else if (key == "end") {
            if (!SetReportedWindowsVersion("setup.exe", version)) {
                fprintf(stderr, "compare_run: cannot set the Windows version for %s\n", name.c_str());
                return 2;
            }
            const RunResult result = RunAndRecord(options);
            if (!wait.empty()) {
                WaitForHandoff(wait);
            }
            WriteResult(out, name, result);
            options = RunOptions();
            options.timeoutMs = 60000;
            version.clear();
            wait.clear();
        }
    }
    fclose(in);
    fclose(out);
    return 0;
}
