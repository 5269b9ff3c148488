// The console's JSON API, as the page uses it.

export const webClientId = `console-${crypto.getRandomValues(new Uint32Array(2)).join("")}`;

export class TokenError extends Error {}

async function call(path, options = {}) {
  const response = await fetch(path, { credentials: "same-origin", cache: "no-store", ...options });
  if (response.status === 403) throw new TokenError("the console refused the page's token");
  let body = null;
  try {
    body = await response.json();
  } catch {
    throw new Error(`the console answered ${response.status} without JSON`);
  }
  return { status: response.status, body };
}

export async function listAgents() {
  const { body } = await call("/api/agents");
  return body;
}

// Resolves to the console's outcome: { state: "answered" | "empty" | "timeout" |
// "gone" | "busy" | "refused", ... }; never rejects for an agent's failure.
export async function sendRequest(agent, tool, code, data) {
  try {
    const { status, body } = await call("/api/request", {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify({ agent, tool, code, data, webClientId }),
    });
    if (status === 400 || status === 415) return { state: "refused", message: body.error };
    return body;
  } catch (error) {
    return { state: "refused", message: error.message };
  }
}
