# Sourced by the benchmark scripts: median prints the median of the numbers
# on its standard input, one a line; timed runs a command and adds its CPU
# and wall time to a file.
median() {
  sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Runs COMMAND (its standard output discarded) and appends a line to
# TIMES_FILE: its CPU time (user + system, of the program and the workers it
# waited for) and its wall time, in milliseconds.
timed() {  # TIMES_FILE COMMAND...
  python3 - "$@" <<'PY'
import resource, subprocess, sys, time
def cpu():  # of the children waited for so far (Python's start-up has some)
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    return used.ru_utime + used.ru_stime
before, start = cpu(), time.monotonic()
subprocess.run(sys.argv[2:], stdout=subprocess.DEVNULL, check=True)
wall = time.monotonic() - start
with open(sys.argv[1], "a") as out:
    out.write("%f %f\n" % ((cpu() - before) * 1000, wall * 1000))
PY
}
