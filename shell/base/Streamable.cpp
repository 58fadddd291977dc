#include "shell/base/Streamable.h"
#include "shell/base/WideFileStream.h"
#include <cstdint>

namespace krv {

namespace {
int ReadVersion(TStream& s, int version, bool readVerFromStream) {
    return readVerFromStream ? s.ReadValue<int32_t>() : version;
}
int WriteVersion(TStream& s, int version, bool writeVerToStream) {
    if (writeVerToStream) s.WriteValue(static_cast<int32_t>(version));
    return version;
}
} // namespace

void TStreamableClass::LoadFromStream(TStream& s, int version, bool readVerFromStream) {
    StreamVersion = ReadVersion(s, version, readVerFromStream);
}
void TStreamableClass::SaveToStream(TStream& s, int version, bool writeVerToStream) {
    StreamVersion = WriteVersion(s, version, writeVerToStream);
}
void TStreamableClass::LoadFromFile(const std::wstring& fileName, int version, bool readVerFromStream) {
    TWideFileStream s(fileName, fmOpenRead | fmShareExclusive);
    LoadFromStream(s, version, readVerFromStream);
}
void TStreamableClass::SaveToFile(const std::wstring& fileName, int version, bool writeVerToStream) {
    TWideFileStream s(fileName, fmCreate);
    SaveToStream(s, version, writeVerToStream);
}

void TStreamableList::LoadFromStream(TStream& s, int version, bool readVerFromStream) {
    Clear();
    StreamVersion = ReadVersion(s, version, readVerFromStream);
}
void TStreamableList::SaveToStream(TStream& s, int version, bool writeVerToStream) {
    StreamVersion = WriteVersion(s, version, writeVerToStream);
}
void TStreamableList::LoadFromFile(const std::wstring& fileName) {
    TWideFileStream s(fileName, fmOpenRead | fmShareExclusive);
    LoadFromStream(s, 0, false);
}
void TStreamableList::SaveToFile(const std::wstring& fileName) {
    TWideFileStream s(fileName, fmCreate);
    SaveToStream(s, 0, false);
}

} // namespace krv
