#include "settings/Channelvalues.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "settings/Xml.h"

CchannelValues::CchannelValues(const std::string& dataFolder, CCurrentChannelAccess& controller)
    : filePath_(dataFolder), controller_(controller) {
    if (!filePath_.empty() && filePath_.back() != '/') filePath_ += '/';
    filePath_ += kFileName;
    Load();
}

int CchannelValues::Load() {
    list_.clear();
    CXML document;
    const int result = document.LoadFromFile(filePath_);
    if (document.Name != "VALUES") return result;
    // Reading each entry through its own node keeps a long file linear; an indexed path
    // would walk the entries before it every time.
    for (const auto& entry : document.Children) {
        if (entry->Name != "VALUE") continue;
        CChannel record;
        record.ReadFrom(*entry, "value.");
        list_.push_back(std::move(record));
    }
    return result;
}

int CchannelValues::Save() {
    CXML document;
    char prefix[48];
    for (std::size_t i = 0; i < list_.size(); ++i) {
        std::snprintf(prefix, sizeof prefix, "values.value[%zu].", i);
        list_[i].WriteTo(document, prefix);
    }
    // An empty list still writes the root, so the file reads back as an empty list.
    if (list_.empty()) document.Name = "VALUES";
    return document.SaveToFile(filePath_);
}

std::string CchannelValues::NameList() {
    std::stable_sort(list_.begin(), list_.end(), [](const CChannel& a, const CChannel& b) {
        return std::strcoll(a.Name.c_str(), b.Name.c_str()) < 0;
    });
    std::string names;
    for (const CChannel& record : list_) {
        if (record.Name.empty()) continue;
        if (!names.empty()) names += '\n';
        names += record.Name;
    }
    return names;
}

std::vector<CChannel>::iterator CchannelValues::FindName(const std::string& name) {
    return std::find_if(list_.begin(), list_.end(),
                        [&](const CChannel& record) { return record.Name == name; });
}

bool CchannelValues::Contains() {
    return FindName(controller_.CurrentRecord().Name) != list_.end();
}

int CchannelValues::StoreCurrent() {
    const CChannel current = controller_.CurrentRecord();
    auto found = FindName(current.Name);
    if (found == list_.end()) {
        list_.emplace_back();
        found = list_.end() - 1;
    }
    found->CopyFrom(current);
    return Save();
}

bool CchannelValues::RecallCurrent() {
    const auto found = FindName(controller_.CurrentRecord().Name);
    if (found == list_.end()) {
        controller_.ResetCurrent();
        return false;
    }
    controller_.CopyIntoCurrent(*found);
    controller_.ResendCurrentChannel();
    return true;
}

bool CchannelValues::DeleteCurrent() {
    const auto found = FindName(controller_.CurrentRecord().Name);
    if (found == list_.end()) return false;
    list_.erase(found);
    Save();
    return true;
}
