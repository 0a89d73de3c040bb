# Export through the treexport command: the package converts the tree into a model file and
# the command writes the document, so both documents come from the one exporter the command
# line uses, with its atomic output and its checks.

# Write an rpart tree as a PMML 4.3 document (documented in man/).
write_pmml <- function(fit, file, portable = FALSE) {
  if (!is.logical(portable) || length(portable) != 1 || is.na(portable)) {
    stop("portable must be TRUE or FALSE", call. = FALSE)
  }
  parts <- model_parts(fit, deparse_name(substitute(fit)))
  run_export(c("pmml", if (portable) "--portable"), parts, file)
}

# Write an rpart tree as a tree XML document (documented in man/).
write_tree_xml <- function(fit, file) {
  parts <- model_parts(fit, deparse_name(substitute(fit)))
  run_export("xml", parts, file)
}

run_export <- function(command_args, parts, file) {
  if (!is.character(file) || length(file) != 1 || is.na(file) || file == "") {
    stop("file must be one path", call. = FALSE)
  }
  program <- treexport_command()
  model <- tempfile("treexport-", fileext = ".json")
  errors <- tempfile("treexport-", fileext = ".txt")
  on.exit(unlink(c(model, errors)), add = TRUE)
  write_parts(parts, model)
  # "--" ends the options: what follows is the model file, whatever its name.
  args <- c(command_args, "-o", path.expand(file), "--", model)
  # system2 quotes the command itself, not its arguments.
  status <- suppressWarnings(system2(program, shQuote(args), stdout = FALSE, stderr = errors))
  if (!identical(as.integer(status), 0L)) {
    said <- if (file.exists(errors)) readLines(errors, warn = FALSE) else character(0)
    said <- sub("^treexport: ", "", said[said != ""])
    stop(structure(class = c("treexport_export_error", "error", "condition"), list(
      message = paste0("treexport ", command_args[1], " failed (exit status ", status, "): ",
                       paste(said, collapse = "\n")),
      call = NULL)))
  }
  invisible(file)
}

# The treexport command the export functions run (documented in man/).
treexport_command <- function() {
  given <- getOption("treexport.command", Sys.getenv("TREEXPORT_COMMAND"))
  if (!is.null(given) && nzchar(given)) {
    if (!file.exists(given) || dir.exists(given) || file.access(given, 1) != 0) {
      stop("the treexport command ", given, " (from ",
           if (!is.null(getOption("treexport.command"))) "options(treexport.command)"
           else "TREEXPORT_COMMAND", ") is not an executable file", call. = FALSE)
    }
    return(given)
  }
  on_path <- Sys.which("treexport")
  if (nzchar(on_path)) return(unname(on_path))
  for (root in repository_roots()) {
    for (preset in c("release", "ci", "debug", "asan")) {
      candidate <- file.path(root, "build", preset, "cli", "treexport")
      if (file.exists(candidate) && file.access(candidate, 1) == 0) return(candidate)
    }
  }
  stop("cannot find the treexport command: install it (cmake --install puts it in ",
       "PREFIX/bin) and put it on the PATH, or set TREEXPORT_COMMAND or ",
       "options(treexport.command = \"/path/to/treexport\")", call. = FALSE)
}

# The folder the package was installed from: R CMD INSTALL evaluates this file in the package's
# source folder. When that folder is the R/ of a treexport repository, the repository's build
# is one more place to look for the command.
installed_from <- getwd()

repository_roots <- function() {
  roots <- dirname(installed_from)
  is_ours <- vapply(roots, function(root) {
    description <- file.path(root, "R", "DESCRIPTION")
    file.exists(description) &&
      identical(unname(read.dcf(description, fields = "Package")[1, 1]), "treexport")
  }, NA)
  roots[is_ours]
}
