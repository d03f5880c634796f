#include "SampleTable.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace rova::bake {
namespace {

struct Column {
    std::string name;
    std::vector<PlugSample> cells;  // one per frame, each a single number or text
};

void addComponents(std::vector<Column>& columns, const std::string& base,
                   const std::vector<std::vector<double>>& perFrame) {
    const std::size_t count = perFrame.empty() ? 0 : perFrame.front().size();
    for (std::size_t c = 0; c < count; ++c) {
        Column column{base + "[" + std::to_string(c) + "]", {}};
        for (const auto& values : perFrame) column.cells.emplace_back(std::vector{values[c]});
        columns.push_back(std::move(column));
    }
}

std::vector<Column> columnsOf(const BakeTake& take) {
    std::vector<Column> columns;
    for (const ObjectTrack& track : take.objects) {
        std::vector<std::vector<double>> translation, rotation, scale;
        for (const Pose& pose : track.poses) {
            translation.emplace_back(pose.translation.begin(), pose.translation.end());
            rotation.emplace_back(pose.rotation.begin(), pose.rotation.end());
            scale.emplace_back(pose.scale.begin(), pose.scale.end());
        }
        addComponents(columns, track.name + ".translation", translation);
        addComponents(columns, track.name + ".rotation", rotation);
        addComponents(columns, track.name + ".scale", scale);
    }
    for (const PlugTrack& track : take.plugs) {
        for (std::size_t c = 0; c < track.columns.size(); ++c) {
            Column column{track.columns[c], {}};
            for (const PlugSample& sample : track.samples) {
                if (const auto* numbers = std::get_if<std::vector<double>>(&sample))
                    column.cells.emplace_back(std::vector{(*numbers)[c]});
                else
                    column.cells.push_back(sample);
            }
            columns.push_back(std::move(column));
        }
    }
    return columns;
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string csvCell(const PlugSample& cell) {
    if (const auto* numbers = std::get_if<std::vector<double>>(&cell))
        return host::formatDouble(numbers->front());
    return csvField(std::get<std::string>(cell));
}

std::string csvText(const BakeTake& take, const std::vector<Column>& columns) {
    std::string text = "frame,seconds";
    for (const Column& column : columns) text += "," + csvField(column.name);
    text += "\n";
    for (std::size_t row = 0; row < take.frames.size(); ++row) {
        text += host::formatDouble(take.frames[row]) + "," + host::formatDouble(take.seconds[row]);
        for (const Column& column : columns) text += "," + csvCell(column.cells[row]);
        text += "\n";
    }
    return text;
}

std::string jsonText(const BakeTake& take, const std::vector<Column>& columns) {
    nlohmann::ordered_json document;
    document["fps"] = take.fps;
    document["frames"] = take.frames;
    document["seconds"] = take.seconds;
    document["time"] = take.keyTimes;
    document["unit"] = take.metres ? "metre" : "scene unit";
    if (take.metres)
        document["metresPerSceneUnit"] = take.unit;
    nlohmann::ordered_json table = nlohmann::ordered_json::object();
    for (const Column& column : columns) {
        nlohmann::ordered_json cells = nlohmann::ordered_json::array();
        for (const PlugSample& cell : column.cells) {
            if (const auto* numbers = std::get_if<std::vector<double>>(&cell))
                cells.push_back(numbers->front());
            else
                cells.push_back(std::get<std::string>(cell));
        }
        table[column.name] = std::move(cells);
    }
    document["columns"] = std::move(table);
    // JSON holds text: a string plug's bytes that are not UTF-8 are written as U+FFFD.
    return document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace

host::Status writeTable(const BakeTake& take, host::FileReplacement& file) {
    const std::filesystem::path& path = file.target();
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto columns = columnsOf(take);
    if (extension == ".csv" || extension == ".json") {
        file.write(extension == ".csv" ? csvText(take, columns) : jsonText(take, columns));
        return file.finish();
    }
    return host::Status::failure("cannot tell the format of table '" + path.string() +
                                 "': name it .csv or .json");
}

}  // namespace rova::bake
