# The conversion itself. Routing of real data through the converted trees is proven end to end
# by the repository's tests/e2e, which load each model file and score every row.

library(rpart)

# The ids of the nodes, in file order, read back from the text.
node_ids <- function(text) {
  as.numeric(regmatches(text, gregexpr("(?<=\\{\"id\": )[0-9]+", text, perl = TRUE))[[1]])
}

test_that("a class tree becomes priors and nodes in rpart's numbering and order", {
  fit <- rpart(Kyphosis ~ Age + Number + Start, kyphosis,
               parms = list(prior = c(0.6, 0.4)))
  text <- to_model(fit)
  expect_match(text, "\"algorithm\": 1,\n  \"priors\": [0.59999999999999998, 0.40000000000000002]",
               fixed = TRUE)
  expect_equal(node_ids(text), as.numeric(rownames(fit$frame)))
  # The root: 81 rows, 64 absent and 17 present; its split on Start with rpart's improvement,
  # ncat = 1 sending Start >= the cut point to the first child.
  root <- fit$splits[1, ]
  expect_equal(unname(root["ncat"]), 1)
  point <- sprintf("%.17g", root["index"])
  expect_match(text, paste0("\"split\": {\"predictor\": \"Start\", \"children\": [{\"low\": ",
                            point, "}, {\"high\": ", point, ", \"highOpen\": true}], ",
                            "\"statistics\": [", sprintf("%.17g", root["improve"]), "]"),
               fixed = TRUE)
  expect_match(text, paste0("{\"id\": 1, \"children\": [2, 3], \"samples\": [{\"count\": 81, ",
                            "\"class\": {\"predicted\": 0, \"counts\": [64, 17]"), fixed = TRUE)
  # Without priors the tree is plain C&RT and carries none.
  plain <- to_model(rpart(Kyphosis ~ ., kyphosis))
  expect_match(plain, "\"algorithm\": 0,", fixed = TRUE)
  expect_false(grepl("priors", plain, fixed = TRUE))
})

test_that("a regression tree carries mean, standard deviation and surrogates in order", {
  fit <- rpart(Ozone ~ ., airquality, control = rpart.control(cp = 0.02))
  text <- to_model(fit)
  f <- fit$frame[1, ]
  expect_match(text, paste0("\"regression\": {\"mean\": ", sprintf("%.17g", f$yval),
                            ", \"stdDev\": ", sprintf("%.17g", sqrt(f$dev / f$wt)),
                            ", \"prediction\": ", sprintf("%.17g", f$yval), "}"), fixed = TRUE)
  # The root's surrogates in rpart's order, each with adj as its association.
  n1 <- 1 + fit$frame$ncompete[1]
  rows <- n1 + seq_len(fit$frame$nsurrogate[1])
  expected <- paste0("\"predictor\": \"", rownames(fit$splits)[rows],
                     "\", \"children\": \\[[^]]*\\], \"statistics\": \\[",
                     sprintf("%.17g", fit$splits[rows, "adj"]),
                     "\\], \"kinds\": \\[\"association\"\\]", collapse = ".*")
  first_node <- sub("\n.*", "", sub(".*\"nodes\": \\[\n    ", "", text))
  expect_match(first_node, paste0("\"surrogates\": \\[.*", expected))
})

test_that("names and levels are escaped, and characters XML cannot carry are refused", {
  data <- data.frame(y = rep(c(1, 5, 9), each = 10),
                     g = factor(rep(c("say \"hi\"", "back\\slash", "caf\u00e9"), each = 10)))
  names(data)[2] <- "gr\u00f6\u00dfe"
  fit <- rpart(y ~ ., data, control = rpart.control(minsplit = 2))
  text <- suppressMessages(to_model(fit))
  expect_match(text, "\"predictors\": [\"gr\u00f6\u00dfe\"]", fixed = TRUE)
  expect_match(text, "[\"say \\\"hi\\\"\"]", fixed = TRUE)
  expect_match(text, "[\"back\\\\slash\"]", fixed = TRUE)
  expect_match(text, "[\"caf\u00e9\"]", fixed = TRUE)
  expect_equal(Encoding(text), "UTF-8")

  levels(data[[2]])[1] <- "bell\a"
  fit <- rpart(y ~ ., data, control = rpart.control(minsplit = 2))
  expect_error(to_model(fit), "level of gr\u00f6\u00dfe 'bell\\a' holds the character U+0007",
               fixed = TRUE, class = "treexport_refusal")
})

test_that("formula terms that are not columns are refused with what to do instead", {
  data <- data.frame(y = runif(40), x = runif(40) + 1, z = runif(40),
                     a = factor(rep(c("p", "q"), 20)), b = factor(rep(c("r", "s"), each = 20)))
  for (f in c("y ~ log(x) + z", "y ~ I(z^2) + x", "y ~ factor(a) + x")) {
    fit <- rpart(as.formula(f), data, control = rpart.control(minsplit = 2))
    expect_error(to_model(fit), "compute the column first", class = "treexport_refusal")
  }
  fit <- rpart(y ~ log(x) + z, data)
  expect_error(to_model(fit), "the formula term log(x) is a transformation", fixed = TRUE)
  # rpart refuses interactions itself; a fit whose terms were given one is refused here too.
  fit <- rpart(y ~ x + a + b, data)
  fit$terms <- terms(y ~ x + a:b)
  expect_error(to_model(fit), "the formula term a:b is an interaction", fixed = TRUE)
  # A column whose name needs quoting in a formula is a column all the same.
  names(data)[2] <- "x value"
  fit <- rpart(y ~ `x value` + z, data, control = rpart.control(minsplit = 2))
  expect_match(suppressMessages(to_model(fit)), "\"predictors\": [\"x value\", \"z\"]",
               fixed = TRUE)
})

test_that("trees the model file cannot describe are refused, naming the argument", {
  broken <- function(edit) {
    fit <- rpart(Kyphosis ~ ., kyphosis)
    edit(fit)
  }
  poisson_fit <- rpart(Ozone ~ ., airquality, method = "poisson")
  expect_error(to_model(poisson_fit), "^poisson_fit: the tree was fitted with method \"poisson\"")
  refused <- list(
    list(lm(Ozone ~ Temp, airquality), "holds an object of class lm, not an rpart tree"),
    list(rpart(Kyphosis ~ ., kyphosis, control = rpart.control(usesurrogate = 1)),
         "usesurrogate = 1"),
    list(broken(function(f) { f$frame <- f$frame[-2, ]; f }),
         "node 1: a child is missing from the frame"),
    list(broken(function(f) { f$frame$ncompete[3] <- -1; f }),
         "frame$ncompete is not a count for every node"),
    list(broken(function(f) { f$splits[1, "index"] <- Inf; f }),
         "node 1: split point is not a finite number"))
  for (r in refused) {
    expect_error(to_model(r[[1]]), r[[2]], fixed = TRUE, class = "treexport_refusal")
  }
})

test_that("a tree 30 levels deep keeps node ids past 2^30 exact, with no warning", {
  # Each value is four times the one before, so every split cuts off the largest row and the
  # tree is a chain down to the maximum depth.
  data <- data.frame(x = 1:40, y = 4^(1:40))
  fit <- rpart(y ~ x, data, control = rpart.control(minsplit = 2, minbucket = 1, cp = 0,
                                                    maxdepth = 30, xval = 0))
  ids <- as.numeric(rownames(fit$frame))
  expect_gte(max(ids), 2^30)
  expect_silent(text <- to_model(fit))
  expect_equal(node_ids(text), ids)
  deepest <- max(ids)
  expect_match(text, sprintf("{\"id\": %.0f, \"samples\"", deepest), fixed = TRUE)
  parent <- floor(deepest / 2)
  expect_match(text, sprintf("\"children\": [%.0f, %.0f]", 2 * parent, 2 * parent + 1),
               fixed = TRUE)
})

test_that("tied children leave a node without a biggest child, summed up in one message", {
  data <- data.frame(y = factor(rep(c("a", "b"), each = 4)), x = c(1:4, 1:4 + 10))
  fit <- rpart(y ~ x, data, control = rpart.control(minsplit = 2, minbucket = 1, cp = 0))
  n <- fit$frame$n
  ids <- as.numeric(rownames(fit$frame))
  inner <- which(fit$frame$var != "<leaf>")
  tied <- inner[n[match(2 * ids[inner], ids)] == n[match(2 * ids[inner] + 1, ids)]]
  expect_gt(length(tied), 0)
  messages <- character(0)
  text <- withCallingHandlers(to_model(fit), message = function(m) {
    messages <<- c(messages, conditionMessage(m))
    invokeRestart("muffleMessage")
  })
  expect_length(messages, 1)
  expect_match(messages, paste0("^fit: ", length(tied), " nodes? ha(s|ve) two children holding ",
                                "equally many rows"))
  # The member closes each tied node's object.
  lines <- strsplit(text, "\n", fixed = TRUE)[[1]]
  for (id in ids[tied]) {
    line <- lines[startsWith(lines, sprintf("    {\"id\": %.0f, ", id))]
    expect_match(line, sprintf("\"children\": [%.0f, %.0f], ", 2 * id, 2 * id + 1), fixed = TRUE)
    expect_match(line, "\"biggestChild\": null}(,)?$")
  }
  expect_equal(lengths(regmatches(text, gregexpr("biggestChild", text))), length(tied))
})
