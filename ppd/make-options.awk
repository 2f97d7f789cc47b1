# Turns the job keyword table (ovik-models --keywords, tab-separated) into
# the options part of the PPD compiler source: the resolution, then each
# keyword that has a PPD group as a PickOne option with its choices. Each
# option's default is the one the table offers: the setting's own default
# (which changes nothing), unless the row offers another (PaperSaveTop keeps
# a small top margin). Groups come in the order of their first keyword,
# options in table order.

BEGIN {
  FS = "\t"
  print "// Generated from the job keyword table by make-options.awk; do not edit."
  groups = 0
}

NR == 1 { next }

{
  keyword = $1; label = $2; group = $3; default_value = $7
  n = split($6, choices, "|")
  if (keyword == "Resolution") {
    print ""
    print "// The printers have one resolution; the raster is 1-bit black."
    for (i = 1; i <= n; i++) {
      split(choices[i], c, "/")
      printf "%sResolution k 1 0 0 0 \"%s\"\n", (c[1] == default_value ? "*" : ""), choices[i]
    }
    next
  }
  if (group == "-")
    next
  if (!(group in options)) {
    order[++groups] = group
    options[group] = ""
  }
  text = sprintf("  Option \"%s/%s\" PickOne AnySetup 20\n", keyword, label)
  for (i = 1; i <= n; i++) {
    value = substr(choices[i], 1, index(choices[i], "/") - 1)
    text = text sprintf("    %sChoice \"%s\" \"\"\n", (value == default_value ? "*" : ""), choices[i])
  }
  options[group] = options[group] text
}

END {
  for (g = 1; g <= groups; g++) {
    print ""
    printf "Group \"%s\"\n", order[g]
    printf "%s", options[order[g]]
  }
}
