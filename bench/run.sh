#!/usr/bin/env bash
# Benchmarks of the conversion engine and orvandine-convert. Prints figures and
# ratios measured side by side on this machine; judges nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh time xvfb
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null

cli=$PWD/build/cli/orvandine-convert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

now() { date +%s%N; }
# Best wall time in milliseconds of a command over N runs.
best_ms() {
  local n=$1; shift
  local best=
  for ((i = 0; i < n; i++)); do
    local t0 t1
    t0=$(now); "$@" >/dev/null; t1=$(now)
    local d=$(( t1 - t0 ))
    if [ -z "$best" ] || [ "$d" -lt "$best" ]; then best=$d; fi
  done
  awk -v ns="$best" 'BEGIN { printf "%.2f", ns / 1e6 }'
}
# Mean wall time in milliseconds over N runs (for runs of a few milliseconds).
mean_ms() {
  local n=$1; shift
  local t0 t1
  t0=$(now)
  for ((i = 0; i < n; i++)); do "$@" >/dev/null; done
  t1=$(now)
  awk -v ns="$(( t1 - t0 ))" -v n="$n" 'BEGIN { printf "%.2f", ns / n / 1e6 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "== HexString"
"$OLDPWD/build/bench/bench_hexstring" bytes.bin
xxd_ms=$(best_ms 3 xxd -p bytes.bin)
echo "xxd -p on the same 16 MiB: best of 3 $xxd_ms ms"

echo "== 16 MiB output: orvandine-convert --hex against nasm -f bin"
printf 'bits 32\ntimes 16777216 db 0x90\n' > big.asm
nasm_big=$(best_ms 5 nasm -f bin big.asm -o big.bin)
cli_big=$(best_ms 5 "$cli" --hex big.asm)
echo "nasm -f bin: $nasm_big ms; orvandine-convert --hex: $cli_big ms; ratio $(ratio "$cli_big" "$nasm_big")"

echo "== Ten-line 32-bit function: orvandine-convert --hex against nasm -f bin and xxd -p"
cat > small.asm <<'ASM'
bits 32
; int add4(int a, int b, int c, int d)
add4:
    push ebp
    mov ebp, esp
    mov eax, [ebp+8]
    add eax, [ebp+12]
    add eax, [ebp+16]
    add eax, [ebp+20]
    pop ebp
    ret 16
ASM
nasm_xxd() { nasm -f bin small.asm -o small.bin && xxd -p small.bin; }
"$cli" --hex small.asm >/dev/null  # the private assembler copy exists from here on
for round in 1 2 3; do
  base=$(mean_ms 200 nasm_xxd)
  ours=$(mean_ms 200 "$cli" --hex small.asm)
  echo "round $round: nasm + xxd: $base ms; orvandine-convert --hex: $ours ms; ratio $(ratio "$ours" "$base")"
done
# Start-up against a whole NASM run, and our work on top of start-up against
# NASM's own run: taken in turn, so that drift touches all alike.
for round in 1 2 3; do
  nasm_only=$(mean_ms 200 nasm -f bin small.asm -o small.bin)
  startup=$(mean_ms 200 "$cli" --version)
  ours=$(mean_ms 200 "$cli" --hex small.asm)
  extra=$(awk -v a="$ours" -v b="$startup" 'BEGIN { printf "%.2f", a - b }')
  echo "round $round: nasm -f bin $nasm_only ms; --version $startup ms, ratio $(ratio "$startup" "$nasm_only");" \
       "--hex minus --version $extra ms, against nasm $(ratio "$extra" "$nasm_only")"
done

echo "== Trying the ten-line function: orvandine-convert --call against --hex"
for round in 1 2 3; do
  hex=$(mean_ms 50 "$cli" --hex small.asm)
  call=$(mean_ms 50 "$cli" --call small.asm 1 2 3 4)
  echo "round $round: --hex: $hex ms; --call: $call ms; ratio $(ratio "$call" "$hex")"
done
printf 'bits 32\njmp $\n' > endless.asm
echo "an endless loop (jmp \$) under --call: no verdict after 300 000 000 instructions in $(best_ms 1 "$cli" --call endless.asm) ms"
printf 'bits 32\nagain:\npushad\npopad\njmp again\n' > endless2.asm
echo "an endless pushad/popad loop under --call: no verdict after $(best_ms 1 "$cli" --call endless2.asm) ms"
nasm -f bin small.asm -o small.bin
"$OLDPWD/build/bench/bench_trial" small.bin

echo "== The trial's emulation against a bare emulator (Unicorn with no hooks) on the same loops"
"$OLDPWD/build/bench/bench_emulation"

echo "== --list on a listing of 150 MB: peak memory and time against NASM writing it"
printf 'bits 32\n%%pragma limit rep 100000000\n%%rep 2500000\nmov eax, 0x12345678\n%%endrep\n' > biglist.asm
nasm_plain=$(best_ms 1 nasm -f bin biglist.asm -o biglist.bin)
# The listing the program asks NASM for: expanded (-Lfe), which tells the mode of every byte.
nasm_listed=$(best_ms 1 nasm -f bin biglist.asm -o biglist.bin -l biglist.lst -Lfe)
rm -f biglist.lst
/usr/bin/time -f '%e %M' -o list_mem.txt "$cli" --list biglist.asm >/dev/null
read -r list_s list_kb <list_mem.txt
echo "nasm: $nasm_plain ms, with its listing $nasm_listed ms; --list: $(awk -v s="$list_s" 'BEGIN { printf "%.0f", s * 1000 }') ms," \
     "peak $(( list_kb / 1024 )) MB; beyond NASM's run: $(awk -v s="$list_s" -v n="$nasm_listed" -v p="$nasm_plain" \
     'BEGIN { printf "%.2f", (s * 1000 - n) / (n - p) }')x the time NASM takes to write the listing"

echo "== Peak memory for the 16 MiB output"
/usr/bin/time -f '%M' -o mem.txt "$cli" --hex big.asm >/dev/null
/usr/bin/time -f '%M' -o nasm_mem.txt nasm -f bin big.asm -o big.bin
/usr/bin/time -f '%M' -o bas_mem.txt "$cli" --bas big.asm >/dev/null 2>&1  # it warns: too long for VB
echo "orvandine-convert --hex (largest of it and its NASM child): $(( $(cat mem.txt) / 1024 )) MB;" \
     "--bas: $(( $(cat bas_mem.txt) / 1024 )) MB; nasm alone: $(( $(cat nasm_mem.txt) / 1024 )) MB"

echo "== Window start-up to shown, against a bare Qt Widgets window (Xvfb)"
bench_window=$OLDPWD/build/bench/bench_window
Xvfb -displayfd 3 -screen 0 1280x1024x24 3>display.txt >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -s display.txt ] && break; sleep 0.1; done
export DISPLAY=:$(cat display.txt)
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$bench_window" window >/dev/null 2>&1  # warm the caches once
# The three kinds are started in turn, so that the machine's drift touches all
# alike; the medians of 60 starts each are compared.
declare -A times
for ((i = 0; i < 60; i++)); do
  for kind in minimal textual window; do
    t0=$(now); "$bench_window" "$kind" >/dev/null 2>&1; t1=$(now)
    times[$kind]+="$(( t1 - t0 )) "
  done
done
median_ms() { tr ' ' '\n' <<<"${times[$1]}" | grep . | sort -n | awk '{a[NR]=$1} END {printf "%.2f", a[int((NR+1)/2)]/1e6}'; }
minimal=$(median_ms minimal); textual=$(median_ms textual); window=$(median_ms window)
echo "median of 60: bare window $minimal ms; Orvandine Converter $window ms; ratio $(ratio "$window" "$minimal")"
echo "  (a bare window with a menu bar and a text area: $textual ms; ratio $(ratio "$window" "$textual"))"

echo "== HEX command on a source that assembles to 1 MiB"
echo 'times 1048576 db 0x90' > mib.asm
echo "nasm -f bin alone: best of 5 $(best_ms 5 nasm -f bin mib.asm -o mib.bin) ms"
for round in 1 2 3; do "$bench_window" hex 2>/dev/null; done

echo "== A single long line, dropped as a file or pasted (longer than 32,768 characters is refused)"
for n in 32768 1000000 4194304; do
  for how in open paste; do "$bench_window" line "$how" "$n" 2>/dev/null; done
done
