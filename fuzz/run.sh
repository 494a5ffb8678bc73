#!/bin/bash
# Builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS (default 5), starting
# from the committed seeds; new inputs go to a scratch corpus, not into the repository.
# usage: fuzz/run.sh [IGNORED_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang++ >/dev/null; then
    echo "clang++ is not installed: fuzzing skipped"
    exit 0
fi
seconds=${FUZZ_SECONDS:-5}
out=fuzz/out
mkdir -p "$out"
flags=(-std=c++17 -O1 -g -I. "-fsanitize=fuzzer,address,undefined" -fno-sanitize-recover=all)
modem=(modem/deadline.cpp modem/serial_port.cpp modem/at_channel.cpp modem/address.cpp
       modem/find_text.cpp modem/link_check.cpp)
clang++ "${flags[@]}" fuzz/parsers_fuzz.cpp modem/address.cpp -o "$out/parsers_fuzz"
clang++ "${flags[@]}" -pthread fuzz/answers_fuzz.cpp "${modem[@]}" -o "$out/answers_fuzz"
for target in parsers answers; do
    scratch=$(mktemp -d)
    cp "fuzz/corpus/$target"/* "$scratch/"
    "$out/${target}_fuzz" -max_total_time="$seconds" -close_fd_mask=2 -max_len=4200 \
        -timeout=20 "$scratch" > "$out/$target.log" 2>&1 || { tail -40 "$out/$target.log"; exit 1; }
    echo "$target: $(grep -a -o 'Done [0-9]* runs in [0-9]* second(s)' "$out/$target.log")," \
         "corpus $(find "$scratch" -type f | wc -l) inputs"
    rm -rf "$scratch"
done
