// Command-line words from anywhere: the checked number parser and the phone stand-in's command
// checks must answer every input without crashing, and a number they accept lies in its range.
// Input: two range bytes, then words separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "phone_args.h"
#include "wire/program_args.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const int64_t kBounds[] = {INT64_MIN, INT32_MIN, -128, -1, 0, 1, 127, 0xFFFF, INT32_MAX, UINT32_MAX, INT64_MAX};
    constexpr size_t kBoundCount = sizeof kBounds / sizeof kBounds[0];
    const int64_t min = kBounds[data[0] % kBoundCount];
    const int64_t max = kBounds[data[1] % kBoundCount];
    std::vector<std::string> words;
    std::string word;
    for (size_t i = 2; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word.push_back(static_cast<char>(data[i]));
        }
    }
    words.push_back(word);

    for (const std::string& w : words) {
        if (const auto value = corvane::ParseInteger(w, min, max)) {
            if (*value < min || *value > max) std::abort();
        }
        (void)corvane::phone::CheckPhoneId(w);
    }
    (void)corvane::phone::CheckPhoneCommand(words);
    std::vector<const char*> argv {"prog"};
    for (const std::string& w : words) argv.push_back(w.c_str());
    (void)corvane::HelpOrVersionWord(static_cast<int>(argv.size()), argv.data());
    return 0;
}
