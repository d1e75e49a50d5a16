// Fuzzes the path joining of the directory-tree removal over arbitrary directory and entry names.
#include <fuzzer/FuzzedDataProvider.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "common/run_state.h"
#include "install/tree_entry.h"
#include "tests/fuzz/fuzz_check.h"

// A string as a C caller holds it: up to its first zero.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const unsigned long attributes = input.ConsumeIntegral<uint32_t>();
    const size_t bufferSize =
        input.ConsumeBool() ? PathBufferSize : input.ConsumeIntegralInRange<size_t>(1, 300);
    const std::string directory = CString(input.ConsumeRandomLengthString(400));
    const std::string name = CString(input.ConsumeRemainingBytesAsString());

    // The full-path buffer is exactly bufferSize bytes: a write past it is caught.
    char* fullPath = static_cast<char*>(malloc(bufferSize));
    const TreeEntryAction action =
        DecideTreeEntry(directory.c_str(), name.c_str(), attributes, fullPath, bufferSize);
    const std::string joined = directory + "\\" + name;
    const bool fits = joined.size() < bufferSize;

    if (name.empty() || name == "." || name == "..") {
        CHECK(action == LeaveTreeEntry);  // never the directory itself or its parent
    } else if (name.find_first_of("\\/:?*") != std::string::npos) {
        CHECK(action == LeaveTreeEntry);  // never a name that reaches past the entry
    } else if (!fits) {
        CHECK(action == LeaveTreeEntry);  // a cut path is never acted on
    } else if ((attributes & 0x400) != 0) {
        // A link: removed as one, never entered or given other attributes.
        CHECK(action == ((attributes & 0x10) != 0 ? RemoveTreeLink : DeleteTreeLink));
    } else {
        CHECK(action == ((attributes & 0x10) != 0 ? EnterTreeEntry : DeleteTreeFile));
    }
    if (action != LeaveTreeEntry) {
        CHECK(memchr(fullPath, '\0', bufferSize) != nullptr);
        CHECK(std::string(fullPath) == joined);
    }
    free(fullPath);
    return 0;
}
