# help_items BLOCK: the names one block of a --help text on stdin lists (the
# block whose header starts with BLOCK): options with their dash, positionals
# and commands by their first word. Items start in the third column; their
# descriptions, and the lines those wrap onto, stand further right. Reads
# both CLI11's layout (corvel-dl, corvel-sim) and Qt's (corvel-tool).
help_items() {
  awk -v block="$1" '
    /^[^ ].*:$/ { inside = index($0, block) == 1; next }
    inside && /^  [^ ]/ {
      line = substr($0, 3)
      sub(/  .*/, "", line)
      n = split(line, words, /[, ]+/)
      for (i = 1; i <= n; i++) {
        if (block != "Options") { print words[i]; break }
        if (words[i] ~ /^--?[[:alnum:]]/) print words[i]
      }
    }'
}
