// A simulated printer with the largest replies the library decodes: 255 alert
// records of every alert family, 255 input and output bins with names, 255
// fonts with full descriptions, 255 jobs with job information, 255 symbol sets.
#pragma once

#include <string>

namespace kvbench {

inline std::string largeProfileJson() {
    std::string records;
    for (int i = 0; i < 255; ++i) {
        static const int kCategories[] = {1, 2, 3, 4, 8};
        records += std::string(i ? "," : "") + "{\"category\": " + std::to_string(kCategories[i % 5]) +
                   ", \"instance\": " + std::to_string(i % 4 + 1) + ", \"condition\": " + std::to_string(i % 3 + 1) + "}";
    }
    std::string status;
    for (int i = 0; i < 255; ++i)
        status += std::string(i ? "," : "") + "{\"category\": 8, \"instance\": " + std::to_string(i % 4 + 1) +
                  ", \"condition\": 5, \"value\": " + std::to_string(i % 100) + "}";
    std::string inputBins, outputBins, fonts, jobs, symbolSets;
    for (int i = 1; i <= 255; ++i) {
        const std::string n = std::to_string(i);
        inputBins += std::string(i > 1 ? "," : "") + "{\"number\": " + n + ", \"capacity\": 500, \"sizeCode\": " +
                     std::to_string(i % 100) + ", \"byte8\": 1, \"name\": \"Tray " + n + "\", \"text2\": \"LETTER\"}";
        outputBins += std::string(i > 1 ? "," : "") + "{\"number\": " + n +
                      ", \"byte1\": 1, \"capacity\": 250, \"byte6\": 1, \"byte7\": 0, \"name\": \"Bin" +
                      std::to_string(i % 15 + 1) + ":Finisher\"}";
        fonts += std::string(i > 1 ? "," : "") + "{\"tag\": 1, \"name\": \"Font number " + n + "\", \"position\": " + n +
                 ", \"technology\": \"TrueType\", \"symbolSet\": 277, \"charComplement\": \"7F FF FF FE 00 00 00 00\""
                 ", \"spacing\": 1, \"height\": 12.5, \"style\": 1, \"weight\": 3, \"typeface\": 4148, \"resolution\": 600}";
        jobs += std::string(i > 1 ? "," : "") + "{\"number\": " + n + ", \"priority\": 5, \"long17\": " + n +
                ", \"info1\": \"JN=report-" + n + ";UR=user" + n + ";HT=ws-17\", \"info2\": \"SC=2;QU=normal\"}";
        symbolSets += std::string(i > 1 ? "," : "") + "{\"id\": " + n +
                      ", \"complement\": \"7F FF FF FE 00 00 00 00\", \"name\": \"Symbol set " + n + "\"}";
    }
    return "{\"name\": \"large\", \"alertRecords\": {"
           "\"paperJams\": [" + records + "], \"operatorIntervention\": [" + records + "], \"warnings\": [" + records +
           "], \"serviceRequired\": [" + records + "], \"configChanges\": [" + records + "], \"supplies\": [" + records +
           "], \"suppliesStatus\": [" + status + "]}, \"inputBins\": [" + inputBins + "], \"outputBins\": [" +
           outputBins + "], \"fonts\": {\"header\": \"01 00\", \"list\": [" + fonts + "]}, \"jobs\": [" + jobs +
           "], \"symbolSets\": [" + symbolSets + "]}";
}

}  // namespace kvbench
