#!/usr/bin/env bash
# Installs what is needed, builds the programs and runs Sorvane's main job on a bundled example:
# a program folder with Sorvane, Kettrin, their window toolkit module and the outside tool, two
# job folders of copies of the project's own example PDF files (one rewritten by the PDF library
# as version 1.4 with 128-bit RC4, one by the outside tool as version 1.7 with AES-256), their job
# files, a silent run, then the result log, the check list and what pdfinfo says of each output.
set -euo pipefail
cd "$(dirname "$0")/.."
# Run as root, the programs start only from a folder that no other user can write.
umask 022
scripts/install-deps.sh
build=${SV_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DSV_BUILD_TESTS=OFF -DSV_BUILD_BENCH=OFF
cmake --build "$build" -j"$(nproc)" --target Sorvane Kettrin AHPDFToolCmd26

work=$(pwd)/out/example
rm -rf "$work"
prog=$work/program
mkdir -p "$prog/bin"
cp "$build/program/Sorvane" "$build/program/Kettrin" "$build/program/svui_wx.so" "$prog/"
cp "$build/program/bin/AHPDFToolCmd26" "$prog/bin/"
for job in library tool; do
  mkdir -p "$work/$job/sub"
  cp examples/*.pdf "$work/$job/"
  cp examples/info.pdf "$work/$job/sub/Copy.PDF"
done

# A first silent run sets the program folder up (setting/default.ini and the other folders);
# the two job files are default.ini with the job's values, named as Sorvane names them.
"$prog/Sorvane" /s
python3 - "$prog" "$work" <<'PY'
import base64, re, sys
prog, work = sys.argv[1], sys.argv[2]
default = open(f"{prog}/setting/default.ini", encoding="cp932", newline="").read()

def scramble(password):
    return base64.b64encode(bytes(b ^ 0x4C for b in password.encode("cp932"))).decode()

def job(folder, values):
    text = default
    for key, value in values.items():  # each key's line, as Sorvane wrote it
        text = re.sub(rf"(?m)^{key}=[^\r\n]*", lambda m: f"{key}={value}", text, count=1)
    name = base64.b64encode(folder.encode("cp932")).decode().replace("/", "-") + ".ini"
    with open(f"{prog}/setting/{name}", "w", encoding="cp932", newline="") as f:
        f.write(text)

common = {"UserPassWord": scramble("user"), "MasterPassWord": scramble("owner"),
          "Title": "サンプル文書", "Author": "Sorvane の例"}
job(f"{work}/library", dict(common, Ver="1"))
job(f"{work}/tool", dict(common, Ver="4"))
PY

echo "== running: $prog/Sorvane /s"
status=0
"$prog/Sorvane" /s || status=$?
echo "exit status: $status"
echo "== log/log_result.csv"
iconv -f CP932 -t UTF-8 "$prog/log/log_result.csv"
echo "== log/log_check.csv"
iconv -f CP932 -t UTF-8 "$prog/log/log_check.csv"
while IFS=, read -r file result; do
  echo "== $file ($result), opened with the user password"
  pdfinfo -upw user "$file" | grep -E '^(Title|Author|Encrypted|PDF version|Pages):'
done < <(iconv -f CP932 -t UTF-8 "$prog/log/log_result.csv" | tr -d '\r')
exit "$status"
