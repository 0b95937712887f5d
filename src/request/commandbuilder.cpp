#include "commandbuilder.h"

#include <algorithm>

namespace {
template <std::size_t N> bool anyOccurs(const std::array<QStringView, N> &words, QStringView text)
{
    return std::any_of(words.begin(), words.end(),
                       [text](QStringView word) { return text.contains(word); });
}

QString command(QStringView device, QStringView suffix)
{
    QString result;
    result.reserve(device.size() + suffix.size());
    return result.append(device).append(suffix);
}
} // namespace

QString CommandBuilder::buildCommand(QStringView request)
{
    const auto device =
        std::find_if(DeviceWords.begin(), DeviceWords.end(),
                     [request](QStringView word) { return request.contains(word); });
    if (device == DeviceWords.end())
        return {};
    if (anyOccurs(OffWords, request))
        return command(*device, OffSuffix);
    if (anyOccurs(OnWords, request))
        return command(*device, OnSuffix);
    return {};
}
