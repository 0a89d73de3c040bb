# The command-line converter tools/rpart2treexport: reads a tree saved with saveRDS and writes
# its model file. Exit status: 0 written, 1 usage error, 2 the input is not a tree this can
# convert.

rpart2treexport_usage <- "Usage: rpart2treexport [OPTIONS] [--] MODEL.rds

Reads an rpart tree (method \"class\" or \"anova\") saved with saveRDS from MODEL.rds (- for
standard input) and writes a treexport model file to OUTPUT, or to standard output when no
OUTPUT is given. The R package treexport (R/ in the treexport repository) does the work; from
R, treexport::write_pmml(fit, FILE) needs no file in between.

  -o, --output PATH          model file to write (default: standard output)
  --feature-names A,B,...    names for the predictors, in the formula's order
  --target-name NAME         name for the target
  --portable                 accepted for treexport's --from; the model file is the same for
                             both PMML profiles
  --                         what follows is MODEL, even when it starts with -
  -h, --help                 show this text

An RDS file can run code when it is read: convert only files you trust as you would a program.

What the model file says:
  - numeric predictors are continuous, and so are logical ones, as 0 (FALSE) and 1 (TRUE);
    a split \"x < t\" sends x < t to the child rpart names in ncat and x >= t to the other;
  - factors (ordered ones too) and character predictors are nominal, with the levels as
    categories coded 0, 1, ... in level order; a factor split sends the levels csplit marks
    left to the first child and those it marks right to the second; levels csplit marks as
    absent from the node go to neither, so the next rule decides (an ordinal field would need
    intervals, which cannot leave levels out, so ordered factors lose their order);
  - the target's levels are its categories; counts are yval2's (weighted) class counts,
    probabilities yval2's class probabilities, the predicted class yval; count is frame$n;
  - priors (parms$prior) are written, as C&RT with priors, when they differ from the class
    proportions at the root; otherwise the tree is plain C&RT;
  - regression nodes carry yval as mean and prediction and sqrt(dev / wt) as standard
    deviation;
  - primary splits carry improve as improvement; surrogates carry adj as association, in
    rpart's order; competitor splits are left out;
  - missing values: rpart's default (usesurrogate = 2) tries the primary split, then the
    surrogates in order, then sends the record to the child with more rows (frame$n). The
    model file says the same: no rule names a missing-value child, surrogates follow in order
    and an undecided record goes to the biggest child. When both children hold the same number
    of rows rpart stops the record at the node; the model file gives such a node no biggest
    child (\"biggestChild\": null), which stops it there too, and one line on standard error
    counts those nodes.

Not converted: methods \"poisson\", \"exp\" and user-defined methods, trees fitted with
usesurrogate 0 or 1 (they stop undecided records at inner nodes), predictors other than
numeric, logical, factor and character ones, and formula terms that are transformations or
interactions (log(x), I(z^2), a:b): compute such a column in the data and fit on it. The loss
matrix (parms$loss) is not carried; its effect is in the predicted classes.
"

# Runs the converter on command-line arguments and returns the exit status.
rpart2treexport_main <- function(args) {
  say <- function(...) cat("rpart2treexport: ", ..., "\n", sep = "", file = stderr())
  usage_error <- function(...) {
    say(..., "\n", rpart2treexport_usage)
    1L
  }
  given <- list()  # option -> value
  with_value <- c("-o" = "output", "--output" = "output", "--feature-names" = "feature_names",
                  "--target-name" = "target_name")
  input <- NULL
  k <- 1
  positional_only <- FALSE
  while (k <= length(args)) {
    a <- args[k]
    option <- sub("=.*", "", a)
    if (positional_only || a == "-" || !startsWith(a, "-")) {
      if (!is.null(input)) return(usage_error("one MODEL only; also given: ", a))
      input <- a
    } else if (a == "--") {
      positional_only <- TRUE
    } else if (a %in% c("-h", "--help")) {
      cat(rpart2treexport_usage)
      return(0L)
    } else if (a == "--portable") {
      given$portable <- TRUE
    } else if (option %in% names(with_value)) {
      if (option != a) {
        value <- substring(a, nchar(option) + 2)
      } else if (k == length(args)) {
        return(usage_error(a, " needs a value"))
      } else {
        value <- args[k + 1]
        k <- k + 1
      }
      given[[with_value[[option]]]] <- value
    } else {
      return(usage_error("unknown option ", a))
    }
    k <- k + 1
  }
  if (is.null(input)) return(usage_error("no MODEL given"))
  output <- given$output
  feature_names <- if (!is.null(given$feature_names)) {
    strsplit(given$feature_names, ",", fixed = TRUE)[[1]]
  }

  status <- tryCatch({
    fit <- read_fit(input)
    note <- function(m) {
      say(sub("\n$", "", conditionMessage(m)))
      invokeRestart("muffleMessage")
    }
    name <- if (input == "-") "standard input" else input
    parts <- withCallingHandlers(model_parts(fit, name, feature_names, given$target_name),
                                 message = note)
    if (is.null(output)) {
      tryCatch(write_parts(parts, stdout()), error = function(e) {
        refuse("standard output: cannot write the model file (", conditionMessage(e), ")")
      })
    } else {
      write_atomically(parts, output)
    }
    0L
  }, treexport_refusal = function(e) {
    say(conditionMessage(e))
    2L
  })
  status
}

read_fit <- function(input) {
  if (input == "-") {
    # Copied to a file first: readRDS takes compressed data only from a file.
    tmp <- tempfile("rpart2treexport-", fileext = ".rds")
    on.exit(unlink(tmp))
    con <- file("stdin", open = "rb")
    out <- file(tmp, open = "wb")
    repeat {
      chunk <- readBin(con, "raw", n = 1048576L)
      if (length(chunk) == 0) break
      writeBin(chunk, out)
    }
    close(out)
    close(con)
    return(tryCatch(readRDS(tmp), error = function(e) {
      refuse("standard input: not a file written by saveRDS (", conditionMessage(e), ")")
    }))
  }
  if (!file.exists(input) || dir.exists(input)) refuse(input, ": no such file")
  tryCatch(readRDS(input), error = function(e) {
    refuse(input, ": not a file written by saveRDS (", conditionMessage(e), ")")
  })
}

# Written beside the target and renamed, so a failure leaves any earlier file as it was.
write_atomically <- function(parts, output) {
  tmp <- file.path(dirname(output), paste0(".rpart2treexport.", Sys.getpid(), ".tmp"))
  ok <- tryCatch({
    write_parts(parts, tmp)
    file.rename(tmp, output)
  }, error = function(e) FALSE, warning = function(w) FALSE)
  if (!isTRUE(ok)) {
    unlink(tmp)
    refuse(output, ": cannot write the model file")
  }
}
