// The Windows stand-in libraries as the program binds them, run under wine: admxrc3.dll and
// admxrc.dll load by name and export all their entry points, the card is found and configured,
// the window serves loads and stores from two threads at once (a request in, its answer out),
// and an access violation elsewhere still reaches the handler behind the stand-in's.
// Argument: the folder of the libraries. Exit status 0 when every check held.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <string>
#include <thread>

#include "link/admxrc_api.h"
#include "link/frame.h"

namespace {

int failures = 0;
#define CHECK(condition)                                                          \
    do {                                                                          \
        if (!(condition)) {                                                       \
            std::printf("check failed at line %d: %s\n", __LINE__, #condition);  \
            ++failures;                                                           \
        }                                                                         \
    } while (false)

template <typename Entries, std::size_t N>
Entries bind(HMODULE library, const std::array<const char*, N>& names, int& found) {
    // Members in name order, each the size of a function pointer: filled by copying.
    std::array<FARPROC, N> slots{};
    static_assert(sizeof(Entries) == sizeof(slots));
    found = 0;
    for (std::size_t k = 0; k < N; ++k) {
        slots[k] = GetProcAddress(library, names[k]);
        if (slots[k] == nullptr) {
            std::printf("%s is not exported\n", names[k]);
        }
        found += slots[k] != nullptr ? 1 : 0;
    }
    Entries entries{};
    std::memcpy(&entries, slots.data(), sizeof entries);
    return entries;
}

void* volatile guarded = nullptr;
std::atomic<int> passed_on{0};

LONG CALLBACK behind_the_stand_in(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
        reinterpret_cast<void*>(record->ExceptionInformation[1]) == guarded) {
        ++passed_on;
        DWORD old = 0;
        VirtualProtect(guarded, 4096, PAGE_READWRITE, &old);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::string folder = argc > 1 ? argv[1] : ".";
    if (!folder.empty() && folder[0] == '/') {
        folder = "Z:" + folder;  // wine's drive for the whole Linux tree
    }
    HMODULE v3_library = LoadLibraryA((folder + "/admxrc3.dll").c_str());
    HMODULE v2_library = LoadLibraryA((folder + "/admxrc.dll").c_str());
    CHECK(v3_library != nullptr && v2_library != nullptr);
    if (v3_library == nullptr || v2_library == nullptr) {
        return 1;
    }
    int found = 0;
    const auto v3 = bind<admxrc3_entries>(v3_library, admxrc3_entry_names, found);
    CHECK(found == 20);
    const int found_v3 = found;
    const auto v2 = bind<admxrc2_entries>(v2_library, admxrc2_entry_names, found);
    CHECK(found == 20);
    if (found_v3 != 20 || found != 20) {
        return 1;
    }

    admxrc2_handle none = 0;
    CHECK(v2.open_card_by_index(0, &none) != admxrc_success);  // a type 6 card by default
    admxrc3_handle card = 0;
    CHECK(v3.open(0, &card) == admxrc_success);
    admxrc3_card_info info{};
    CHECK(v3.get_card_info_ex(card, &info) == admxrc_success && info.model_code == 0x102);
    void* mapped = nullptr;
    CHECK(v3.map_window(card, 0, 0, 0x8000, &mapped) == admxrc_success && mapped != nullptr);
    const std::uint8_t bits[] = {1, 2, 3};
    CHECK(v3.configure_from_buffer(card, 0, 0, bits, sizeof bits) == admxrc_success);
    if (mapped == nullptr) {
        return 1;
    }
    auto* window = static_cast<volatile std::uint32_t*>(mapped);
    window[0x00C / 4] = 2;
    window[0x010 / 4] = 1;

    // The receiver thread polls while the main thread writes requests.
    constexpr int requests = 10;
    std::atomic<int> answers{0};
    std::thread receiver([&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        window[0x1E0 / 4] = 0;
        while (answers < requests && std::chrono::steady_clock::now() < until) {
            static_cast<void>(window[0x1E4 / 4]);
            const std::uint32_t first = window[0x1F0 / 4];
            if ((first & 0xFF) == 0) {
                Sleep(1);
                continue;
            }
            const std::uint32_t second = window[0x1F0 / 4];
            static_cast<void>(window[0x1F0 / 4]);
            if (((second >> 8) & 0xFF) == 0x1A) {
                ++answers;
            }
        }
    });
    const std::uint8_t request[] = {0x2A, 0x10, 0x00, 0x02, 0x55, 0x19, 0x00};
    for (int k = 0; k < requests; ++k) {
        for (const std::uint8_t symbol : encode_card_symbols(request, sizeof request)) {
            window[0x008 / 4] = symbol;
        }
    }
    receiver.join();
    CHECK(answers == requests);

    AddVectoredExceptionHandler(0, behind_the_stand_in);
    guarded = VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
    static_cast<volatile std::uint32_t*>(guarded)[0] = 5;
    CHECK(passed_on == 1);
    CHECK(static_cast<volatile std::uint32_t*>(guarded)[0] == 5);

    CHECK(v3.close(card) == admxrc_success);
    std::printf("%s: %d failed checks\n", failures == 0 ? "ok" : "FAILED", failures);
    return failures == 0 ? 0 : 1;
}
