"""The layers of src/, each folder with the folders it may include; fails on
an include that runs upward or across.

    layers.py [SRC_DIR]

From the top down: the entry (app) runs the window or the uninstall, from
a temporary copy when needed (relaunch); the window runs the pipeline; the
pipeline uses transfer and integration; removal undoes what integration
wrote and relaunches itself from a temporary copy; core holds the state
record, the product's texts and the install-folder rules; platform is the
bottom and includes nothing of ours."""
import pathlib
import re
import sys

ALLOWED = {
    "app": {"window", "removal", "relaunch", "core", "platform"},
    "window": {"pipeline", "core", "platform"},
    "pipeline": {"transfer", "integration", "core", "platform"},
    "removal": {"integration", "relaunch", "core", "platform"},
    "relaunch": {"core", "platform"},
    "transfer": {"core", "platform"},
    "integration": {"core", "platform"},
    "core": {"platform"},
    "platform": set(),
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/[^"]+"', re.M)


def main():
    src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                       pathlib.Path(__file__).resolve().parents[2] / "src")
    wrong = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or path.parent == src:
            continue
        folder = path.relative_to(src).parts[0]
        if folder not in ALLOWED:
            wrong.append(f"{path.relative_to(src)}: the folder {folder}/ has no place in the layers")
            continue
        for included in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if included != folder and included not in ALLOWED[folder]:
                wrong.append(f"{path.relative_to(src)} includes {included}/, which {folder}/ may not")
    for line in wrong:
        print(f"layers: {line}")
    if wrong:
        return 1
    print(f"layers: every include of src/ runs down ({len(ALLOWED)} folders)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
