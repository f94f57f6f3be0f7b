#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The usage of every kv402 command, in one place: each command's --help and usage errors, and
// kv402 --help, which is made of them all. Plain text: the help and kv402 image are answered
// before any Qt object is made.
namespace Kv402 {

inline constexpr char CatalogueUsage[] = "Usage: kv402 catalogue build SOURCE.sql CATALOGUE\n"
                                         "       kv402 catalogue dump CATALOGUE\n";
inline constexpr char ImageUsage[] = "Usage: kv402 image DATAFILE -o OUT.bin\n";
inline constexpr char SendUsage[]
    = "Usage: kv402 send (--file DATA | --revision R --version V --language L [--catalogue FILE])\n"
      "                  (--port COMn | --device PATH | --simulate COMn=PROFILE)...\n"
      "                  [--accept-bad-checksums] [--cable-wait SECONDS] [--again]\n"
      "                  [--json] [--record FILE] [--fast]\n";
inline constexpr char RecordUsage[]
    = "Usage: kv402 record [--json] [--since DATE] [--record FILE]\n";
inline constexpr char RecordPushUsage[] = "Usage: kv402 record push --to URL [--record FILE]\n";
inline constexpr char PortsUsage[] = "Usage: kv402 ports [--json]\n";
inline constexpr char BundleUsage[]
    = "Usage: kv402 bundle make DIR [--name NAME] [--revision N]\n"
      "       kv402 bundle sign DIR --key SECRETKEY [--password-fd N]\n"
      "       kv402 bundle verify DIR|FILE.tar [--allow-older-revision]\n"
      "       kv402 bundle install FILE.tar [DIR] [--allow-older-revision]\n";
inline constexpr char VersionUsage[] = "Usage: kv402 --version\n";

// kv402 --help: every usage above, under one "Usage:".
inline std::string toolUsage()
{
    constexpr std::string_view Lead = "Usage: ";
    std::string usage;
    for (const std::string_view text : {CatalogueUsage,
                                        ImageUsage,
                                        SendUsage,
                                        RecordUsage,
                                        RecordPushUsage,
                                        PortsUsage,
                                        BundleUsage,
                                        VersionUsage}) {
        if (usage.empty())
            usage = text;
        else
            usage.append(Lead.size(), ' ').append(text.substr(Lead.size()));
    }
    return usage;
}

} // namespace Kv402
