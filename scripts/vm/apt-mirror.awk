# Read by vxavs_apt_mirror (image-inputs.sh), which says what it looks for: prints the address of
# the first entry that counts and stops.
function release(suites, comps,   n, i, s) {
  if ((" " comps " ") !~ / main /) return 0
  n = split(suites, s, " ")
  for (i = 1; i <= n; i++) if (s[i] !~ /[-\/]/) return 1
  return 0
}
function found(uri) { print uri; done = 1; exit }
# The deb822 form: paragraphs of "Field: value", continued on lines that start with a blank.
function stanza_end() {
  if (f["types"] ~ /(^| )deb( |$)/ && tolower(f["enabled"]) != "no" && \
      release(f["suites"], f["components"])) { split(f["uris"], u, " "); if (u[1] != "") found(u[1]) }
  delete f; field = ""
}
FNR == 1 { if (deb822) stanza_end(); deb822 = FILENAME ~ /\.sources$/ }
{ sub(/\r$/, "") }
deb822 && /^#/ { next }
deb822 && /^[ \t]*$/ { stanza_end(); next }
deb822 && /^[ \t]/ { if (field != "") { sub(/^[ \t]+/, ""); f[field] = f[field] " " $0 }; next }
deb822 {
  i = index($0, ":"); if (i == 0) next
  field = tolower(substr($0, 1, i - 1)); v = substr($0, i + 1)
  gsub(/[ \t]+/, " ", v); sub(/^ /, "", v); sub(/ $/, "", v)
  f[field] = v; next
}
# The one-line form: deb [options] uri suite component...
{
  sub(/#.*/, "")
  if ($1 != "deb") next
  line = $0; sub(/^[ \t]*deb[ \t]+/, "", line)
  if (line ~ /^\[/) sub(/^\[[^]]*\][ \t]*/, "", line)
  n = split(line, w, /[ \t]+/)
  comps = ""; for (i = 3; i <= n; i++) comps = comps " " w[i]
  if (n >= 3 && release(w[2], comps)) found(w[1])
}
END { if (!done && deb822) stanza_end() }
