#include "qvrmodulefile.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "nqpublic/nqbase/nqmodule.h"

namespace {

constexpr size_t kSample = 4096;  // bytes compared at each end

// File offset of `length` bytes at `rva` of the image at `base`; false when
// they are not all file data of one section.
bool RvaToFileOffset(const BYTE* base, uint64_t rva, uint64_t length, uint64_t* offset) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return false;
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD k = 0; k < nt->FileHeader.NumberOfSections; ++k, ++section) {
        const uint64_t start = section->VirtualAddress;
        // Only the part of a section backed by the file; the rest is zeros.
        const uint64_t inFile = std::min<uint64_t>(
            section->SizeOfRawData, section->Misc.VirtualSize ? section->Misc.VirtualSize : section->SizeOfRawData);
        if (rva >= start && rva - start <= inFile && length <= inFile - (rva - start)) {
            *offset = section->PointerToRawData + (rva - start);
            return true;
        }
    }
    return false;
}

bool ReadAt(HANDLE file, uint64_t offset, void* buf, DWORD size) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    return ::ReadFile(file, buf, size, &got, &at) && got == size;
}

}  // namespace

bool LocateInModuleFile(HMODULE module, const void* bytes, size_t size, ModuleFileRange* out) {
    if (!module || !bytes || !out) return false;
    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    const BYTE* block = static_cast<const BYTE*>(bytes);
    if (block < base) return false;
    uint64_t offset = 0;
    if (!RvaToFileOffset(base, static_cast<uint64_t>(block - base), size, &offset)) return false;

    const std::wstring path = nq::ModuleFileName(module);
    if (path.empty()) return false;
    nq::unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;

    // The file must hold the image's bytes: a sample after the first two
    // bytes and one at the end.
    BYTE sample[kSample];
    if (size > 2) {
        const size_t head = std::min(size - 2, kSample);
        if (!ReadAt(file.get(), offset + 2, sample, static_cast<DWORD>(head)) ||
            std::memcmp(sample, block + 2, head) != 0)
            return false;
        const size_t tail = std::min(size - 2, kSample);
        if (!ReadAt(file.get(), offset + size - tail, sample, static_cast<DWORD>(tail)) ||
            std::memcmp(sample, block + size - tail, tail) != 0)
            return false;
    }
    out->file = std::move(file);
    out->offset = offset;
    return true;
}
