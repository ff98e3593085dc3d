#!/usr/bin/env python3
"""Each layer compiles against its own folders and those below it, and an include of any other
folder fails. Compiles one-line probes with the exact flags the build uses for a source of each
layer (from compile_commands.json)."""
import json
import os
import shlex
import subprocess
import sys
import tempfile

# The source that stands for a layer, the layer's target, and the folders it may include.
LAYERS = {
    "settings/ParameterStore.cpp": ("quarvel_settings", {"settings"}),
    "core/ImageFilter.cpp": ("quarvel_core", {"core"}),
    "detail/DetailFilter.cpp": ("quarvel_detail", {"detail", "core", "settings"}),
    "tone/ToneFilter.cpp": ("quarvel_tone", {"tone", "detail", "core", "settings"}),
    "control/ProcessingController.cpp": ("quarvel_control", {"control", "tone", "detail", "core", "settings", "platform"}),
    "host/EntryPoint.cpp": ("quarvel_host", {"host", "control", "core", "settings", "platform", "pluginapi"}),
    "ui/PreviewLayout.cpp": ("quarvel_ui_logic", {"ui", "pages", "presets", "resources", "settings"}),
}
FOLDERS = ["settings", "core", "detail", "tone", "control", "host", "ui", "pages", "presets", "resources",
           "platform", "pluginapi"]


def first_header(source_root, folder):
    return sorted(f for f in os.listdir(os.path.join(source_root, folder)) if f.endswith(".h"))[0]


def probe_command(entry, probe, output):
    args = shlex.split(entry["command"]) if "command" in entry else list(entry["arguments"])
    kept = []
    skip = False
    for a in args:
        if skip:
            skip = False
            continue
        if a in ("-o", "-c", "-MF", "-MT", "-MQ"):
            skip = True
            continue
        if a in ("-MD", "-MMD") or a == entry["file"]:
            continue
        kept.append(a)
    return kept + ["-fsyntax-only", probe]


def main():
    source_root, build_dir = sys.argv[1], sys.argv[2]
    with open(os.path.join(build_dir, "compile_commands.json")) as f:
        # A source may also be compiled into a test or fuzz target with other flags: take the
        # layer's own compilation.
        entries = {(os.path.realpath(e["file"]), target): e for e in json.load(f)
                   for target in [t for t, _ in LAYERS.values()]
                   if f"CMakeFiles/{target}.dir/" in e.get("output", e.get("command", ""))}
    failures = []
    checked = 0
    with tempfile.TemporaryDirectory() as work:
        probe = os.path.join(work, "probe.cpp")
        for source, (target, allowed) in LAYERS.items():
            entry = entries.get((os.path.realpath(os.path.join(source_root, source)), target))
            if entry is None:
                failures.append(f"{source}: not in compile_commands.json")
                continue
            for folder in FOLDERS:
                header = f"{folder}/{first_header(source_root, folder)}"
                with open(probe, "w") as f:
                    f.write(f'#include "{header}"\n')
                result = subprocess.run(probe_command(entry, probe, work), cwd=entry["directory"],
                                        capture_output=True, text=True)
                # Only the probe's own include counts: a header may need a system header the
                # native build lacks (windows.h), which says nothing about the layers.
                found = f"{header}: No such file" not in result.stderr and f"'{header}' file not found" not in result.stderr
                checked += 1
                if (folder in allowed) != found:
                    want = "reach" if folder in allowed else "not reach"
                    failures.append(f"{source} should {want} {header}\n{result.stderr.strip()[:400]}")
    for failure in failures:
        print("FAIL", failure)
    print(f"{checked} probes, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
