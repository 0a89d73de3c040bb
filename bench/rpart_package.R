# Times the R package on a big rpart tree: the whole of write_pmml and write_tree_xml, and the
# three steps of write_pmml one by one: the conversion (the model file's text, in memory),
# writing the model file, and the treexport command (loading the model file and exporting);
# then to_model, which is the conversion and the text pasted into one string.
#
#   R CMD INSTALL -l /tmp/rlib R
#   R_LIBS=/tmp/rlib TREEXPORT_COMMAND=build/release/cli/treexport Rscript bench/rpart_package.R
#
# The tree: rpart with cp = 0 and minsplit = 2 on ROWS (default 202000) synthetic rows with a
# noisy class, three numeric predictors and a six-level factor; 83,481 nodes, 30 levels deep
# (ids past 2^30), with 4,278 tied nodes. Fitting it takes rpart itself about 12 s.
suppressPackageStartupMessages({
  library(rpart)
  library(treexport)
})
args <- commandArgs(trailingOnly = TRUE)
n <- if (length(args) > 0) as.integer(args[1]) else 202000L
set.seed(1)
d <- data.frame(x1 = runif(n), x2 = rnorm(n), x3 = round(runif(n) * 100),
                f = factor(sample(letters[1:6], n, TRUE)))
d$y <- factor(ifelse(d$x1 + d$x2 / 3 + (d$f %in% c("a", "b")) * 0.3 + rnorm(n, sd = 0.5) > 0.8,
                     "yes", "no"))
fit <- rpart(y ~ x1 + x2 + x3 + f, d, control = rpart.control(cp = 0, minsplit = 2, xval = 0))
cat(sprintf("tree: %d rows, %d nodes, deepest id %.0f\n", n, nrow(fit$frame),
            max(as.numeric(rownames(fit$frame)))))

out <- tempfile()
dir.create(out)
time <- function(what, expr) {
  gc()
  t <- system.time(expr)
  cat(sprintf("%-16s %6.2f s elapsed, %6.2f s CPU (user + system, this process and children)\n",
              what, t[["elapsed"]], sum(t[c("user.self", "sys.self", "user.child", "sys.child")],
                                        na.rm = TRUE)))
}
time("conversion", parts <- suppressMessages(treexport:::model_parts(fit, "fit")))
model <- file.path(out, "big.json")
time("model file", treexport:::write_parts(parts, model))
cat(sprintf("model file: %.1f MB\n", file.size(model) / 1e6))
command <- treexport_command()
time("command", stopifnot(system2(command, c("pmml", "-o", file.path(out, "big.pmml"), "--",
                                             model)) == 0))
time("write_pmml", suppressMessages(write_pmml(fit, file.path(out, "big.pmml"))))
time("write_tree_xml", suppressMessages(write_tree_xml(fit, file.path(out, "big.xml"))))
time("to_model", text <- suppressMessages(to_model(fit)))
unlink(out, recursive = TRUE)
