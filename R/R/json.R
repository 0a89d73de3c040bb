# JSON text of the model file, built a whole column at a time: every helper takes vectors and
# returns one text per element, so that a tree of any size costs a fixed number of calls.

# Signals an input this package cannot convert. The class lets callers (the command-line
# wrapper) tell a refusal from a fault.
refuse <- function(...) {
  stop(structure(class = c("treexport_refusal", "error", "condition"),
                 list(message = paste0(...), call = NULL)))
}

# Characters an XML 1.0 document cannot hold, even as a character reference: C0 controls other
# than tab, line feed and carriage return, and U+FFFE, U+FFFF. Every name and level the model
# file carries ends up in a document, so they are refused here with the text that holds them.
xml_forbidden <- "[\\x01-\\x08\\x0B\\x0C\\x0E-\\x1F]"
xml_nonchars <- intToUtf8(c(0xFFFE, 0xFFFF), multiple = TRUE)

has_forbidden <- function(s) {
  grepl(xml_forbidden, s, perl = TRUE) |
    grepl(xml_nonchars[1], s, fixed = TRUE) | grepl(xml_nonchars[2], s, fixed = TRUE)
}

# JSON strings for a character vector; `what` names the texts in messages ("predictor name").
json_string <- function(s, what = "text") {
  s <- enc2utf8(as.character(s))
  if (anyNA(s)) refuse(what, " is NA")
  bad <- !validUTF8(s)
  if (any(bad)) refuse("the ", what, " '", s[bad][1], "' is not valid UTF-8")
  bad <- has_forbidden(s)
  if (any(bad)) {
    first <- s[bad][1]
    cp <- utf8ToInt(first)
    hit <- cp[has_forbidden(intToUtf8(cp, multiple = TRUE))][1]
    refuse("the ", what, " ", encodeString(first, quote = "'"), " holds the character U+",
           sprintf("%04X", hit), ", which XML documents cannot carry; rename it first")
  }
  s <- gsub("\\", "\\\\", s, fixed = TRUE)
  s <- gsub("\"", "\\\"", s, fixed = TRUE)
  s <- gsub("\n", "\\n", s, fixed = TRUE)
  s <- gsub("\r", "\\r", s, fixed = TRUE)
  s <- gsub("\t", "\\t", s, fixed = TRUE)
  paste0("\"", s, "\"")
}

# Numbers in 17 significant digits, so that each reads back as the same double. `where`, when
# given, names the values in a message (see check_finite).
json_number <- function(x, where = NULL) {
  if (!is.null(where)) check_finite(x, where)
  print_distinct(as.double(x), "%.17g")
}

# Refuses values that are not finite numbers. `where` names them: one text, or a function that
# names the element at a position (only called for the first value that is not finite).
check_finite <- function(x, where) {
  x <- as.double(x)
  bad <- !is.finite(x)
  if (any(bad)) {
    k <- which(bad)[1]
    refuse(if (is.function(where)) where(k) else where, " is not a finite number (", x[k], ")")
  }
}

# Whole numbers up to 2^53 (node ids past 2^31 included) without going through integers.
json_whole <- function(x) print_distinct(as.double(x), "%.0f")

# sprintf(format, x) for doubles. A tree repeats few values many times over (counts,
# probabilities 0 and 1, class numbers), so each distinct value is printed once; unique() takes
# -0 for 0, which the format tells apart.
print_distinct <- function(x, format) {
  distinct <- unique(x)
  # Whole numbers of integer size print the same as integers, which is faster.
  small <- is.finite(distinct) & distinct == trunc(distinct) & abs(distinct) < 2^31
  texts <- character(length(distinct))
  texts[small] <- as.character(as.integer(distinct[small]))
  texts[!small] <- sprintf(format, distinct[!small])
  texts <- texts[match(x, distinct)]
  zero <- which(x == 0)
  if (length(zero) > 0) texts[zero] <- sprintf(format, c(0, -0))[(1 / x[zero] < 0) + 1]
  texts
}

json_array <- function(items) paste0("[", paste(items, collapse = ", "), "]")

# One object from member names and their value texts.
json_object <- function(names, values) {
  paste0("{", paste(paste0(json_string(names), ": ", values), collapse = ", "), "}")
}

# Group numbers of the rows of equally long numeric columns: rows that hold the same values
# share a number; numbers count up in the order the groups first appear. -0 and 0, which match()
# takes for one value, are told apart, since they print differently.
row_groups <- function(columns) {
  group <- rep(1, length(columns[[1]]))
  for (x in columns) {
    x <- as.double(x)
    distinct <- unique(x)
    code <- match(x, distinct)
    zero <- which(x == 0)
    code[zero[1 / x[zero] < 0]] <- length(distinct) + 1L
    combined <- (group - 1) * (length(distinct) + 1) + code
    group <- as.double(match(combined, unique(combined)))
  }
  as.integer(group)
}

# Joins texts that belong to consecutive groups (`group` sorted) into one text per group.
# All texts are pasted into one string with a unit separator (U+001F) after each group's last,
# and split there: two calls, whatever the number of groups. No text holds U+001F: names and
# levels that do are refused (json_string), and numbers and JSON punctuation never do.
join_groups <- function(texts, group, n_groups, sep = ", ") {
  out <- character(n_groups)
  n <- length(texts)
  if (n == 0) return(out)
  last <- c(group[-1] != group[-n], TRUE)
  joined <- strsplit(paste0(texts, c(sep, "\x1f")[last + 1], collapse = ""), "\x1f",
                     fixed = TRUE)[[1]]
  # strsplit drops an empty last piece.
  out[group[last]] <- c(joined, character(sum(last) - length(joined)))
  out
}
