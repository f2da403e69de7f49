#!/usr/bin/env bash
# How Kestrel's transfers come out on a bad line and when they are cut off: runs the real
# kestrel against kestrel-unit (separate processes, a fresh folder and a fresh unit for every
# run, the unit paced at 115200 baud), downloads and uploads an image and fetches the log under
# each fault, and prints a Markdown table of how many runs were exact, failed with a non-zero
# status, or were silently wrong, and how long the exact runs took against those on a clean
# line. With --short it runs one case of each row with small images and ends with status 1 when
# any run was silently wrong.
set -u -o pipefail

usage() {
    cat <<'EOF'
Usage: tools/reliability.sh [--short] [--runs N] [--cut-runs N] [--size BYTES] [--jobs N]
                            [--seed S] [--bin-dir DIR] [--keep]

  --short        one run of each row, 4 KiB images, the rates per answer and the upload's rates
                 per byte 8 times higher, so that a short transfer meets about as many faults
                 (the download's rates per byte stay: they already damage 3 in 10 of the
                 421-byte bank records); exit status 1 if any run is silently wrong
  --runs N       downloads and uploads per fault row (default 20)
  --cut-runs N   downloads and uploads per row that cuts a transfer off (default 5)
  --size BYTES   image size (default 65536; 4096 with --short)
  --jobs N       runs at a time, each with its own unit (default 2; 9 with --short)
  --seed S       seed of the first run; each run takes the next (default 1; 9000 with --short)
  --bin-dir DIR  take kestrel and kestrel-unit from DIR and build nothing
                 (default: build them with the linux preset into build/linux)
  --keep         keep every run's folder (they are kept anyway when a run is silently wrong)

Columns: exact = status 0 and the right result (download: the unit stores exactly the file;
upload: the file written equals the unit's image; log: log.txt equals the unit's log). failed =
a non-zero status (the statuses seen are listed) with no wrong file under the image's name and
no .part file left. silently wrong = status 0 with a wrong result, or a .part file left, or a
wrong file under the image's name (for a download: the unit holding anything but the new or the
old image). time = the mean time of the exact runs, and that against the clean line's mean.
EOF
}

root=$(cd "$(dirname "$0")/.." && pwd)
short=0
runs=20
cut_runs=5
size=""
jobs=""
seed=""
bin_dir=""
keep=0
while [ $# -gt 0 ]; do
    case $1 in
    --short) short=1 ;;
    --runs) runs=$2; shift ;;
    --cut-runs) cut_runs=$2; shift ;;
    --size) size=$2; shift ;;
    --jobs) jobs=$2; shift ;;
    --seed) seed=$2; shift ;;
    --bin-dir) bin_dir=$2; shift ;;
    --keep) keep=1 ;;
    -h | --help) usage; exit 0 ;;
    *) echo "reliability.sh: unknown argument $1" >&2; usage >&2; exit 2 ;;
    esac
    shift
done

# Fault rates. Noise and lost bytes are per byte: a download's answers are 13-byte DL_ACK
# frames and an upload's 527-byte FILE_ACK frames, so each kind gets the rate that damages
# about 1% of its answers (1 - (1 - p)^13 = 1.0%, 1 - (1 - p)^527 = 1.0%).
scale=1
if [ $short = 1 ]; then
    scale=8
    runs=1
    cut_runs=1
    size=${size:-4096}
    jobs=${jobs:-9}
    seed=${seed:-9000}
fi
size=${size:-65536}
jobs=${jobs:-2}
seed=${seed:-1}
rate() { awk -v p="$1" -v s="$2" 'BEGIN { printf "%.6g", p * s }'; }
answer_rate=$(rate 0.01 $scale)
answer_percent=$(rate 1 $scale)
noise_download=$(rate 0.0008 1)
noise_upload=$(rate 0.00002 $scale)

if [ -z "$bin_dir" ]; then
    (cd "$root" && { [ -f build/linux/CMakeCache.txt ] || cmake --preset linux >/dev/null; } &&
        cmake --build --preset linux --target kestrel kestrel-unit >/dev/null) ||
        { echo "reliability.sh: the build failed" >&2; exit 3; }
    bin_dir=$root/build/linux
fi
kestrel=$(cd "$bin_dir" && pwd)/kestrel
unit=$(cd "$bin_dir" && pwd)/kestrel-unit
for program in "$kestrel" "$unit"; do
    [ -x "$program" ] || { echo "reliability.sh: no $program" >&2; exit 3; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-reliability.XXXXXX")
results=$work/results
: >"$results"

# kestrel starts with the signals that end a run at their default handling, whatever this
# script inherited (nohup ignores SIGHUP, a background job of a script SIGINT): a signal the
# program finds ignored it rightly leaves ignored, and the rows that send them would measure
# nothing.
if env --default-signal=HUP,INT,TERM true 2>/dev/null; then
    launch=(env --default-signal=HUP,INT,TERM)
else
    launch=()
    echo "reliability.sh: this env cannot reset signals; SIGINT or SIGHUP may reach no run" >&2
fi

# Every run starts its programs in process groups of their own (job control, here and in each
# run), so that SIGINT reaches kestrel as it reaches a program started from a terminal. The
# shell's notes on ended jobs go nowhere; the runs report on descriptor 3.
set -m
exec 3>&2

# Rows: name, fault options of the unit for a download, for an upload and the log, and how the
# transfer is cut off (none, kill9, unplug, replug, INT, TERM, HUP). The rows without a cut-off
# fetch the log too; replug pulls the port and the unit puts it back 2 s later, while kestrel
# runs with /wait_port 10.
rows=(
    "clean line|||none"
    "corrupted answers ${answer_percent}%|--corrupt-answers $answer_rate|--corrupt-answers $answer_rate|none"
    "dropped answers ${answer_percent}%|--drop $answer_rate|--drop $answer_rate|none"
    "line noise (per byte: download ${noise_download}, upload ${noise_upload})|--noise $noise_download|--noise $noise_upload|none"
    "lost bytes (per byte: download ${noise_download}, upload ${noise_upload})|--drop-bytes $noise_download|--drop-bytes $noise_upload|none"
    "unit killed (kill -9) mid-transfer|||kill9"
    "port pulled (SIGUSR1 to the unit) mid-transfer|||unplug"
    "port pulled for 2 s and put back, /wait_port 10|--back-after 2000|--back-after 2000|replug"
    "SIGINT to kestrel mid-transfer|||INT"
    "SIGTERM to kestrel mid-transfer|||TERM"
    "SIGHUP to kestrel mid-transfer|||HUP"
)

# Waits up to $2 tenths of a second for pid $1 to end; true if it ended.
ends_within() {
    local pid=$1 tenths=$2
    while [ "$tenths" -gt 0 ]; do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
        tenths=$((tenths - 1))
    done
    ! kill -0 "$pid" 2>/dev/null
}

# True once the transfer of run folder $1 of kind $2 is under way: the unit has been asked for
# block 1 of the upload (block 0 is in the .part file) or has received DL_DATA chunk 1.
under_way() {
    local dir=$1 kind=$2 sub=11
    [ "$kind" = upload ] && sub=09
    [ "$(grep -c " message 2A 10 .. .. 55 $sub " "$dir/record.txt" 2>/dev/null)" -ge 2 ]
}

# One run: row index, kind (download or upload), seed. Appends one line to the results:
# row, kind, verdict (exact, failed, wrong), status, what was seen.
run_one() {
    local row=$1 kind=$2 run_seed=$3
    set -m
    local name dl_faults ul_faults cut
    IFS='|' read -r name dl_faults ul_faults cut <<<"${rows[$row]}"
    local faults=$dl_faults
    [ "$kind" != download ] && faults=$ul_faults
    local dir=$work/run-$row-$kind-$run_seed
    mkdir -p "$dir/src"
    head -c "$size" /dev/urandom >"$dir/src/new.bin"
    head -c "$size" /dev/urandom >"$dir/src/old.bin"

    local bank_image=$dir/src/old.bin
    [ "$kind" = upload ] && bank_image=$dir/src/new.bin
    # shellcheck disable=SC2086
    (cd "$dir" && exec "$unit" --port 3 --seed "$run_seed" --load-bank "2:fw:$bank_image" \
        --dump-dir dump --record record.txt $faults >unit.log 2>&1) &
    local unit_pid=$!
    echo "$unit_pid" >>"$dir/pids"
    local tries=50
    while [ ! -L "$dir/COM3" ] && [ $tries -gt 0 ]; do
        sleep 0.1
        tries=$((tries - 1))
    done
    if [ ! -L "$dir/COM3" ]; then
        kill -TERM "$unit_pid" 2>/dev/null
        printf '%s\t%s\twrong\t-\tharness: the unit did not start (%s)\n' "$row" "$kind" "$dir" \
            >>"$results"
        return
    fi

    local wait_port=()
    [ "$cut" = replug ] && wait_port=(/wait_port 10)
    local run_start
    run_start=$(date +%s.%N)
    if [ "$kind" = download ]; then
        cp "$dir/src/new.bin" "$dir/new.bin"
        (cd "$dir" && exec "${launch[@]}" "$kestrel" /interface 3 "${wait_port[@]}" /bank 2 \
            /load_fw new.bin </dev/null >kestrel.log 2>&1) &
    elif [ "$kind" = upload ]; then
        (cd "$dir" && exec "${launch[@]}" "$kestrel" /interface 3 "${wait_port[@]}" /bank 2 \
            +get_fw </dev/null >kestrel.log 2>&1) &
    else
        (cd "$dir" && exec "${launch[@]}" "$kestrel" /interface 3 +get_log \
            </dev/null >kestrel.log 2>&1) &
    fi
    local kestrel_pid=$!
    echo "$kestrel_pid" >>"$dir/pids"

    local note=""
    if [ "$cut" != none ]; then
        local cut_done=0
        while kill -0 "$kestrel_pid" 2>/dev/null; do
            if under_way "$dir" "$kind"; then
                case $cut in
                kill9) kill -KILL "$unit_pid" ;;
                unplug | replug) kill -USR1 "$unit_pid" ;;
                *) kill -s "$cut" "$kestrel_pid" ;;
                esac
                cut_done=1
                break
            fi
            sleep 0.02
        done
        [ $cut_done = 1 ] || note="not cut off: the transfer ended first"
    fi
    # A lost answer costs 10 s and a transfer may take 50 of them: 15 minutes is more than any
    # run may take.
    local status seconds
    if ends_within "$kestrel_pid" 9000; then
        wait "$kestrel_pid"
        status=$?
        seconds=$(awk -v a="$run_start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
    else
        kill -KILL "$kestrel_pid" 2>/dev/null
        wait "$kestrel_pid"
        status=hung
        note="kestrel did not end within 15 minutes"
    fi
    if kill -0 "$unit_pid" 2>/dev/null; then
        kill -TERM "$unit_pid"
        ends_within "$unit_pid" 100 || kill -KILL "$unit_pid" 2>/dev/null
    fi
    wait "$unit_pid" 2>/dev/null
    rm -f "$dir/pids"

    # What the run left: .part files, the fetched image, what the unit stores.
    local parts fetched stored verdict
    parts=$(find "$dir" -name '*.part' | head -n 1)
    local wanted=FW_Bank2.bin
    [ "$kind" = log ] && wanted=log.txt
    fetched=$(find "$dir" -path "$dir/dump" -prune -o -name "$wanted" -print | head -n 1)
    stored=$dir/dump/FW_Bank2.bin
    local expected=$dir/src/new.bin
    [ "$kind" = log ] && expected=$dir/dump/log.txt
    if [ "$status" = hung ]; then
        verdict=wrong
    elif [ -n "$parts" ]; then
        verdict=wrong
        note="${note:+$note; }left ${parts#"$dir"/}"
    elif [ "$kind" != download ]; then
        if [ -n "$fetched" ] && ! cmp -s "$fetched" "$expected"; then
            verdict=wrong
            note="${note:+$note; }${fetched#"$dir"/} is not the unit's image"
        elif [ "$status" = 0 ] && [ -z "$fetched" ]; then
            verdict=wrong
            note="${note:+$note; }status 0 but no file written"
        elif [ "$status" = 0 ]; then
            verdict=exact
        else
            verdict=failed
        fi
    else
        if [ -n "$fetched" ]; then
            verdict=wrong
            note="${note:+$note; }a download wrote ${fetched#"$dir"/}"
        elif [ "$status" = 0 ]; then
            if [ -f "$stored" ] && cmp -s "$stored" "$dir/src/new.bin"; then
                verdict=exact
            else
                verdict=wrong
                note="${note:+$note; }status 0 but the unit does not store the file"
            fi
        elif [ -f "$stored" ] && ! cmp -s "$stored" "$dir/src/new.bin" &&
            ! cmp -s "$stored" "$dir/src/old.bin"; then
            verdict=wrong
            note="${note:+$note; }the unit stores neither the new nor the old image"
        else
            verdict=failed
        fi
    fi
    if [ "$cut" != none ] && [ "$cut" != replug ] && [ "$verdict" = exact ] && [ -z "$note" ]; then
        note="cut off mid-transfer, yet it ended well"
    fi
    printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$row" "$kind" "$verdict" "$status" "$note" \
        "${seconds:-}" >>"$results"
    printf '  %s, %s, seed %s: %s (status %s)%s\n' "$name" "$kind" "$run_seed" "$verdict" \
        "$status" "${note:+: $note}" >&3
    if [ "$verdict" = exact ] || [ "$verdict" = failed ]; then
        [ $keep = 1 ] || rm -rf "$dir"
    fi
}

# A series stopped on the way (Ctrl-C, a test's time limit) ends its runs and their programs,
# which live in process groups of their own and would otherwise run on.
run_pids=()
stop_runs() {
    trap - INT TERM HUP
    local pid
    for pid in "${run_pids[@]}"; do
        kill -KILL "$pid" 2>/dev/null
    done
    cat "$work"/run-*/pids 2>/dev/null | while read -r pid; do
        kill -KILL "$pid" 2>/dev/null
    done
    echo "reliability.sh: stopped; the runs' folders are in $work" >&2
}
trap 'stop_runs; exit 130' INT
trap 'stop_runs; exit 143' TERM
trap 'stop_runs; exit 129' HUP

# The runs, in row order, at most $jobs at a time.
started=$(date +%s)
echo "reliability.sh: $size-byte images, $jobs at a time, runs in $work" >&2
next_seed=$seed
running=0
for row in "${!rows[@]}"; do
    IFS='|' read -r _ _ _ cut <<<"${rows[$row]}"
    count=$runs
    kinds=(download upload log)
    [ "$cut" != none ] && count=$cut_runs && kinds=(download upload)
    for kind in "${kinds[@]}"; do
        for ((i = 0; i < count; i++)); do
            if [ $running -ge "$jobs" ]; then
                wait -n
                running=$((running - 1))
            fi
            run_one "$row" "$kind" "$next_seed" 2>/dev/null &
            run_pids+=($!)
            running=$((running + 1))
            next_seed=$((next_seed + 1))
        done
    done
done
wait
elapsed=$(($(date +%s) - started))

# The table.
echo "Measured $(date +%Y-%m-%d) with $size-byte images, in $((elapsed / 60)) min $((elapsed % 60)) s."
echo
echo "| case | runs | exact | failed (status) | silently wrong | time (× clean) |"
echo "|---|---|---|---|---|---|"
# The mean time of the exact runs of row $1, kind $2; empty when there is none.
mean_time() {
    awk -F'\t' -v r="$1" -v k="$2" '$1 == r && $2 == k && $3 == "exact" && $6 != "" {
        sum += $6; n++ } END { if (n > 0) printf "%.2f", sum / n }' "$results"
}
wrong_total=0
for row in "${!rows[@]}"; do
    IFS='|' read -r name _ _ cut <<<"${rows[$row]}"
    kinds=(download upload log)
    [ "$cut" != none ] && kinds=(download upload)
    for kind in "${kinds[@]}"; do
        lines=$(awk -F'\t' -v r="$row" -v k="$kind" '$1 == r && $2 == k' "$results")
        total=$(printf '%s' "$lines" | grep -c . || true)
        exact=$(printf '%s\n' "$lines" | awk -F'\t' '$3 == "exact"' | grep -c . || true)
        wrong=$(printf '%s\n' "$lines" | awk -F'\t' '$3 == "wrong"' | grep -c . || true)
        failed=$(printf '%s\n' "$lines" | awk -F'\t' '$3 == "failed"' | grep -c . || true)
        # "status 4", or "status 4 ×3, 2 ×1" when they differ.
        statuses=$(printf '%s\n' "$lines" | awk -F'\t' '$3 == "failed" { print $4 }' | sort -n |
            uniq -c | sort -k1,1nr -k2,2n | awk '{ n[NR] = $1; s[NR] = $2 }
                END { for (i = 1; i <= NR; i++)
                          printf "%s%s%s", (i > 1 ? ", " : ""), s[i], (NR > 1 ? " ×" n[i] : "") }')
        failed_text=$failed
        [ "$failed" -gt 0 ] && failed_text="$failed (status $statuses)"
        mean=$(mean_time "$row" "$kind")
        clean=$(mean_time 0 "$kind")
        time_text="-"
        if [ -n "$mean" ] && [ -n "$clean" ]; then
            time_text="$mean s ($(awk -v a="$mean" -v b="$clean" 'BEGIN { printf "%.2f", a / b }')×)"
        fi
        echo "| $name, $kind | $total | $exact | $failed_text | $wrong | $time_text |"
        wrong_total=$((wrong_total + wrong))
    done
done
notes=$(awk -F'\t' '$5 != "" { print "- row " $1 ", " $2 ": " $3 " (status " $4 "): " $5 }' \
    "$results")
if [ -n "$notes" ]; then
    echo
    echo "Notes:"
    echo "$notes"
fi

if [ "$wrong_total" -gt 0 ]; then
    echo "reliability.sh: $wrong_total run(s) silently wrong; their folders are in $work" >&2
    exit 1
fi
[ $keep = 1 ] && echo "reliability.sh: the runs' folders are in $work" >&2 || rm -rf "$work"
exit 0
