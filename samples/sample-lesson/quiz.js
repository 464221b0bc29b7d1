// The lesson's quiz: builds the questions into the page, checks the answers and
// shows a score. Plain JavaScript with no outside resources, so it works when the
// page is opened straight from disk.
"use strict";

const QUESTIONS = [
  {
    text: "What shape is the valley of a young river high in the hills?",
    answers: ["A wide U shape", "A steep V shape", "Completely flat"],
    right: 1,
    why: "A young river cuts downwards, and the sides wear back into a V."
  },
  {
    text: "On a river bend, where does the water flow fastest?",
    answers: ["Along the outer bank", "Along the inner bank", "It is the same everywhere"],
    right: 0,
    why: "The fast water swings to the outside and wears that bank away."
  },
  {
    text: "Stones carried by the river grind its bed like sandpaper. This is called\u2026",
    answers: ["Solution", "Attrition", "Abrasion"],
    right: 2,
    why: "Abrasion is scraping by the load; attrition is stones wearing each other down."
  },
  {
    text: "How is an oxbow lake made?",
    answers: [
      "A river cuts through the neck of a meander and leaves the old loop behind",
      "Rain fills a hollow at the top of a hill",
      "The sea floods the land behind a delta"
    ],
    right: 0,
    why: "In a flood the river takes the short way and the old loop is sealed off."
  }
];

function buildQuestion(question, index) {
  const box = document.createElement("fieldset");
  box.className = "question";
  const title = document.createElement("h2");
  title.textContent = (index + 1) + ". " + question.text;
  box.appendChild(title);
  question.answers.forEach(function (answer, choice) {
    const label = document.createElement("label");
    const input = document.createElement("input");
    input.type = "radio";
    input.name = "q" + index;
    input.value = String(choice);
    label.appendChild(input);
    label.appendChild(document.createTextNode(" " + answer));
    box.appendChild(label);
  });
  const feedback = document.createElement("p");
  feedback.className = "feedback";
  feedback.id = "feedback" + index;
  box.appendChild(feedback);
  return box;
}

function chosenAnswer(index) {
  const picked = document.querySelector('input[name="q' + index + '"]:checked');
  return picked ? Number(picked.value) : -1;
}

function showFeedback(question, index) {
  const feedback = document.getElementById("feedback" + index);
  const chosen = chosenAnswer(index);
  const right = chosen === question.right;
  feedback.className = "feedback " + (right ? "right" : "wrong");
  if (chosen < 0) {
    feedback.textContent = "No answer picked. " + question.why;
  } else {
    feedback.textContent = (right ? "Right! " : "Not quite. ") + question.why;
  }
  return right;
}

function scoreMessage(score, total) {
  if (score === total) {
    return "All " + total + " right. You know how rivers shape the land!";
  }
  if (score >= total / 2) {
    return score + " of " + total + " right. Good work; read the feedback above for the rest.";
  }
  return score + " of " + total + " right. Have another look at the two lesson pages and try again.";
}

function setAnswersLocked(locked) {
  document.querySelectorAll("#quiz input").forEach(function (input) {
    input.disabled = locked;
  });
}

function check() {
  let score = 0;
  QUESTIONS.forEach(function (question, index) {
    if (showFeedback(question, index)) {
      score += 1;
    }
  });
  document.getElementById("score").textContent = scoreMessage(score, QUESTIONS.length);
  setAnswersLocked(true);
  document.getElementById("check").disabled = true;
  document.getElementById("again").hidden = false;
}

function reset() {
  document.getElementById("quiz").reset();
  setAnswersLocked(false);
  document.querySelectorAll(".feedback").forEach(function (feedback) {
    feedback.textContent = "";
    feedback.className = "feedback";
  });
  document.getElementById("score").textContent = "";
  document.getElementById("check").disabled = false;
  document.getElementById("again").hidden = true;
}

document.addEventListener("DOMContentLoaded", function () {
  const form = document.getElementById("quiz");
  QUESTIONS.forEach(function (question, index) {
    form.appendChild(buildQuestion(question, index));
  });
  document.getElementById("check").addEventListener("click", check);
  document.getElementById("again").addEventListener("click", reset);
});
