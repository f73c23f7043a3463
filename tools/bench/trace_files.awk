# Reads `strace -f -e trace=openat,read,write -s 0` output of one run of the
# conversions (sav3-bench convert ROOT) and attributes every open, read and
# write to its file. Paths under ROOT are shown as device paths.
#   awk -v root=ROOT -v plan=PLAN -f trace_files.awk TRACE
# prints one line per file, sorted by path:
#   PATH OPENS FAILED_OPENS READS BYTES_READ WRITES BYTES_WRITTEN
# and writes the floor's plan to PLAN: "in PATH BYTES" for each legacy file
# (the most bytes one open of it read), "out PATH BYTES" for each file written.
function device_path(p) { return index(p, root "/") == 1 ? substr(p, length(root) + 1) : p }
{
  pid = $1
  line = $0
  sub(/^[0-9]+ +/, "", line)
}
line ~ /^openat\(/ {
  split(line, q, "\"")
  path = device_path(q[2])
  result = line
  sub(/.*\) += /, "", result)
  split(result, r, " ")
  if (!(path in opens)) { opens[path] = 0; failed[path] = 0; reads[path] = 0; bytes[path] = 0; writes[path] = 0; written[path] = 0; best[path] = 0 }
  if (r[1] + 0 < 0) { failed[path]++; next }
  opens[path]++
  fd[pid, r[1]] = path
  got[pid, r[1]] = 0
  next
}
line ~ /^(read|write)\(/ {
  call = substr(line, 1, index(line, "(") - 1)
  n = substr(line, index(line, "(") + 1)
  n = substr(n, 1, index(n, ",") - 1)
  result = line
  sub(/.*\) += /, "", result)
  split(result, r, " ")
  if (!((pid, n) in fd)) next
  path = fd[pid, n]
  if (call == "read") {
    reads[path]++
    if (r[1] + 0 > 0) { bytes[path] += r[1]; got[pid, n] += r[1] }
    if (got[pid, n] > best[path]) best[path] = got[pid, n]
  } else {
    writes[path]++
    if (r[1] + 0 > 0) written[path] += r[1]
  }
}
END {
  for (p in opens) {
    printf "%s %d %d %d %d %d %d\n", p, opens[p], failed[p], reads[p], bytes[p], writes[p], written[p] | "LC_ALL=C sort"
    if (plan == "" || index(p, "/") != 1) continue
    if (writes[p] > 0 && index(p, "/usr/sav3/") == 1) printf "out %s %d\n", p, written[p] >plan
    else if (opens[p] > 0 && index(p, "/usr/sav3/") != 1 && index(p, "/etc/") != 1) printf "in %s %d\n", p, best[p] >plan
  }
}
