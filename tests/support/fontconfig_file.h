#pragma once
// A fontconfig configuration listing one font directory and nothing else, so that a renderer or an
// index started with FONTCONFIG_FILE naming it sees exactly those fonts.

#include <filesystem>
#include <fstream>

namespace kfp::test {

inline void writeFontconfigFile(const std::filesystem::path& config,
                                const std::filesystem::path& fonts,
                                const std::filesystem::path& cache) {
  std::ofstream(config) << "<?xml version=\"1.0\"?>\n<fontconfig><dir>" << fonts.string()
                        << "</dir><cachedir>" << cache.string() << "</cachedir></fontconfig>\n";
}

}  // namespace kfp::test
