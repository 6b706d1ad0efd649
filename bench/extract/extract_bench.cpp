// Extracts one 7z archive with Extract7zToDirectory, the way the installer
// does for its payload resource (read from the file piece by piece through
// CFileRangeInStream, its solid blocks decoded on one worker per processor),
// and prints what it cost.
//
//   extract_bench <archive> <empty output folder> [--file | --memory] [--workers N]
//     --file     through the reader's CFileInStream (a payload given as a file)
//     --memory   the whole archive copied into a heap block first (CMemInStream)
//     --workers  decoding threads (default: one per processor; 1: the calling thread only)
//   extract_bench --noop            start-up cost only
// Output: one line "code=N wall_ms=... cpu_ms=... peak_private_kb=... peak_ws_kb=... files=N"
#include <windows.h>
#include <psapi.h>

#include <7zFile.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "archive/qvr7z.h"

namespace {

double Ms(const FILETIME& ft) {
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    return static_cast<double>(v.QuadPart) / 10000.0;
}

double CpuMs() {
    FILETIME c, e, k, u;
    ::GetProcessTimes(::GetCurrentProcess(), &c, &e, &k, &u);
    return Ms(k) + Ms(u);
}

void Report(int code, double wallMs, double cpuMs, unsigned files) {
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof pmc);
    std::printf("code=%d wall_ms=%.1f cpu_ms=%.1f peak_private_kb=%lu peak_ws_kb=%lu files=%u processors=%u\n", code,
                wallMs, cpuMs, static_cast<unsigned long>(pmc.PeakPagefileUsage / 1024),
                static_cast<unsigned long>(pmc.PeakWorkingSetSize / 1024), files, ExtractionProcessorCount());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wcscmp(argv[1], L"--noop") == 0) {
        Report(0, 0, CpuMs(), 0);
        return 0;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: extract_bench <archive> <output folder> [--file] | --noop\n");
        return 2;
    }
    bool fromFile = false, inMemory = false;
    ExtractOptions options;
    for (int i = 3; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--file") == 0) {
            fromFile = true;
        } else if (std::wcscmp(argv[i], L"--memory") == 0) {
            inMemory = true;
        } else if (std::wcscmp(argv[i], L"--workers") == 0 && i + 1 < argc) {
            options.workers = static_cast<unsigned>(std::wcstoul(argv[++i], nullptr, 10));
        } else {
            std::fprintf(stderr, "unknown option\n");
            return 2;
        }
    }
    LARGE_INTEGER freq, t0, t1;
    ::QueryPerformanceFrequency(&freq);
    const double cpu0 = CpuMs();
    ::QueryPerformanceCounter(&t0);

    HANDLE h = ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open the archive\n");
        return 2;
    }
    unsigned files = 0;
    const OnFileExtracted count = [&](const wchar_t*) { ++files; };
    int code = 0;
    if (fromFile) {
        CFileInStream in;
        FileInStream_CreateVTable(&in);
        in.file.handle = h;
        in.wres = 0;
        code = Extract7zToDirectory(&in.vt, argv[2], count, {}, options);
    } else if (inMemory) {
        // The whole compressed archive in a heap block.
        const DWORD size = ::GetFileSize(h, nullptr);
        void* block = ::HeapAlloc(::GetProcessHeap(), 0, size ? size : 1);
        DWORD got = 0;
        if (!block || !::ReadFile(h, block, size, &got, nullptr) || got != size) {
            std::fprintf(stderr, "cannot read the archive\n");
            return 2;
        }
        CMemInStream in(block, size);
        code = Extract7zToDirectory(&in.vt, argv[2], count, {}, options);
        ::HeapFree(::GetProcessHeap(), 0, block);
    } else {
        // As for the payload resource: a range of the file, read as needed.
        LARGE_INTEGER size = {};
        ::GetFileSizeEx(h, &size);
        CFileRangeInStream in(h, 0, static_cast<uint64_t>(size.QuadPart));
        code = Extract7zToDirectory(&in.vt, argv[2], count, {}, options);
    }
    ::CloseHandle(h);

    ::QueryPerformanceCounter(&t1);
    const double wall = static_cast<double>(t1.QuadPart - t0.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
    Report(code, wall, CpuMs() - cpu0, files);
    return code == 0 ? 0 : 1;
}
